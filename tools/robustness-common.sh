# Shared by tools/check-sanitizers.sh and tools/check-coverage.sh; sourced, not run.

# The default python3 as an interpreter that has the suite's test packages: python3 itself when
# it has them, else the virtual environment that tools/python-matrix.sh keeps for it. Prints
# the path of the interpreter executable itself, never a launcher script (pyenv's shims are
# shell scripts, and a preloaded sanitizer runtime must go into the interpreter, not a shell).
default_test_python() {
  local python tag venv
  python="$(python3 -c 'import sys; print(sys.executable)')"
  if "$python" -c 'import pytest, hypothesis, numpy' 2>/dev/null; then
    echo "$python"
    return 0
  fi
  tag="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
  venv="${TARNEX_CACHE:-$HOME/.cache/tarnex}/venv-$tag"
  [[ -x "$venv/bin/python" ]] || "$python" -m venv "$venv" >&2
  if ! "$venv/bin/python" -c 'import pytest, hypothesis, numpy' 2>/dev/null; then
    "$venv/bin/python" -m pip install -q --disable-pip-version-check pytest hypothesis numpy >&2
  fi
  echo "$venv/bin/python"
}

# Runs the Python suite (tests/python) on PYTHON against the module in MODULE_DIR; further
# arguments go to pytest.
run_python_suite() {
  local python="$1" module_dir="$2"
  shift 2
  TARNEX_MODULE_DIR="$module_dir" "$python" -m pytest -q -p no:cacheprovider tests/python "$@"
}

# The exhaustive sweeps of the conversions (the fast field kernels, and the short path against
# the general converter) prove values, not memory safety or coverage, and take many minutes when
# instrumented: they run in the optimised C++ suite only.
value_sweeps='*FastFieldSweep*:*FastFieldNearMidpoints*:*NineDigitNearMidpoints*'
value_sweeps+=':*ShortPathAgainstGeneralConverter*:*EveryWideFieldReadsBack*'
