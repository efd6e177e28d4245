"""Shared fixtures: the module under test, plot files on disk, and child interpreters.

The module is the one built in TARNEX_MODULE_DIR when that is set (tools/test-all.sh does), and
otherwise the installed one (`pip install ".[test]"`, then `python -m pytest tests/python`).
Tests that need more than the installed module skip themselves and say why.
"""

import os
import shlex
import subprocess
import sys
import textwrap

import pytest

import vormant_path

_MODULE_DIR = os.environ.get("TARNEX_MODULE_DIR")
if _MODULE_DIR:
    sys.path.insert(0, _MODULE_DIR)
VORMANT_PATH = vormant_path.search_path()
if VORMANT_PATH:
    sys.path.insert(0, VORMANT_PATH)

try:
    import tarnex
except ImportError as error:
    where = f"in TARNEX_MODULE_DIR={_MODULE_DIR}" if _MODULE_DIR else "installed"
    raise ImportError(
        f"tarnex is not {where} for {sys.executable}: install it with pip install '.[test]', "
        "or set TARNEX_MODULE_DIR to the folder of a build"
    ) from error


def pytest_report_header(config):
    return f"tarnex: {tarnex.__file__}"


@pytest.fixture(scope="session")
def module():
    return tarnex


@pytest.fixture(scope="session")
def read():
    return tarnex.rust_read_vormant


@pytest.fixture(scope="session")
def panic_exception(read):
    """The PanicException type, reached the only way Python code can: a caught instance."""
    try:
        read("/nonexistent/for/the/panic/type", 12)
    except BaseException as caught:  # noqa: B036
        return type(caught)
    raise AssertionError("a missing file did not fail")


@pytest.fixture
def plot_file(tmp_path):
    """Writes `content` (str or bytes) to a new file and returns its path as a str."""
    counter = iter(range(1_000_000))

    def write(content, name=None):
        path = tmp_path / (name or f"plot{next(counter)}.txt")
        path.write_bytes(content.encode() if isinstance(content, str) else content)
        return str(path)

    return write


class ChildResult:
    def __init__(self, completed):
        self.returncode = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr

    @property
    def err(self):
        return self.stderr.decode("utf-8", "replace")

    @property
    def out(self):
        return self.stdout.decode("utf-8", "replace")


def child_environment():
    """This process's environment, with the module path to this tarnex and vormant."""
    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(tarnex.__file__))
    paths = [VORMANT_PATH, module_dir, env.get("PYTHONPATH")]
    env["PYTHONPATH"] = os.pathsep.join(filter(None, paths))
    return env


# How a child interpreter is started: this one's executable, or the command that
# TARNEX_CHILD_PYTHON gives where the executable cannot start by itself (an emulated one).
CHILD_PYTHON = shlex.split(os.environ.get("TARNEX_CHILD_PYTHON", "")) or [sys.executable]


@pytest.fixture(scope="session")
def run_python():
    """Runs `code` in a child interpreter that imports the same tarnex and vormant as this one."""

    def run(code, *args):
        env = child_environment()
        env["PYTHONIOENCODING"] = "utf-8"
        completed = subprocess.run(
            [*CHILD_PYTHON, "-c", textwrap.dedent(code), *args],
            capture_output=True,
            env=env,
            stdin=subprocess.DEVNULL,
            check=False,
        )
        return ChildResult(completed)

    return run
