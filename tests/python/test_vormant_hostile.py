"""vormant's native calls with hostile arguments (tests/valgrind/hostile_calls.py, which the
memory checker runs too): an ordinary exception or a result, never SystemError or a crash."""

import pathlib
import sys

import pytest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "valgrind"))

import hostile_calls  # noqa: E402

_reader = pytest.importorskip("vormant._reader")


def test_native_calls_refuse_hostile_arguments(tmp_path):
    assert hostile_calls.replay(_reader, tmp_path) > 400
