"""The modules on another processor give what they give on the reference one, bit for bit:
values of the bundled samples and of generated files of every number shape, every fatal message
with its report, and vormant.read's values and errors.

TARNEX_PORT_EXPECTED names the JSON file that port_cases.py wrote on the reference machine;
tools/check-arm64.sh makes it on x86-64 and runs this suite on arm64 under emulation.
"""

import json
import os
import platform
import sys

import pytest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import port_cases  # noqa: E402  (beside this file)

EXPECTED_PATH = os.environ.get("TARNEX_PORT_EXPECTED")
if not EXPECTED_PATH:
    pytest.skip("TARNEX_PORT_EXPECTED names no file of reference records",
                allow_module_level=True)
with open(EXPECTED_PATH) as file:
    EXPECTED = json.load(file)
CASES = port_cases.cases()


def test_reference_is_another_machine():
    assert EXPECTED["machine"] != platform.machine()


def test_same_cases_on_both_machines():
    assert sorted(CASES) == sorted(EXPECTED["records"])


@pytest.mark.parametrize("name", sorted(CASES))
def test_case_matches_reference(name):
    assert port_cases.record(name, CASES[name]) == EXPECTED["records"][name]
