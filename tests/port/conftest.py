import os
import sys

# port_cases sits beside the tests, and the suite runs without installing it.
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
