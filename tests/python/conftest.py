"""Shared fixtures: the built module, plot files on disk, and child interpreters."""

import os
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

import tarnex  # noqa: E402  (found through TARNEX_MODULE_DIR when set)


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


@pytest.fixture(scope="session")
def run_python():
    """Runs `code` in a child interpreter that imports the same tarnex and vormant as this one."""

    def run(code, *args):
        env = child_environment()
        env["PYTHONIOENCODING"] = "utf-8"
        completed = subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code), *args],
            capture_output=True,
            env=env,
            stdin=subprocess.DEVNULL,
            check=False,
        )
        return ChildResult(completed)

    return run
