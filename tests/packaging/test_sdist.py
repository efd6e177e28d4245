"""The source distribution built where nothing but a C++ compiler is at hand.

`python -m build --sdist` makes the archive; pip installs it into a fresh virtual environment
inside a private mount namespace where the fast_float headers and any CMake or Ninja of the
system are hidden behind empty mounts, so scikit-build-core has to bring CMake and Ninja from
the registry and the build has to do without fast_float. The Python suite then runs against
that installation.

Needs root (for the mount namespace) and the registry; slow, like the wheel tests.
"""

import os
import pathlib
import re
import shutil
import sys

import pytest

from commands import clean_env, run, run_ok

ROOT = pathlib.Path(__file__).resolve().parents[2]
SUITE = ROOT / "tests" / "python"

# The PATH inside the namespace: the system's folders only, none of a Python environment's.
SYSTEM_PATH = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
HEADER_ROOTS = ["/usr/include", "/usr/local/include"]
HIDDEN_TOOLS = ["cmake", "ninja"]

# Run as `bash -c HIDE _ COMMAND...` in the new namespace: covers every fast_float folder with
# an empty one and every cmake and ninja on PATH with an empty, non-executable file, proves
# that neither the compiler nor the shell finds them any more, then runs the command.
HIDE = r"""
set -euo pipefail
empty="$(mktemp -d -p "$PWD")"
blank="$(mktemp -p "$PWD")"
chmod 644 "$blank"
for root in {header_roots}; do
  [[ -d "$root/fast_float" ]] && mount --bind "$empty" "$root/fast_float"
done
IFS=: read -ra folders <<<"$PATH"
for folder in "${{folders[@]}}"; do
  for tool in {tools}; do
    [[ -e "$folder/$tool" ]] && mount --bind "$blank" "$folder/$tool"
  done
done
if echo '#include <fast_float/fast_float.h>' | g++ -std=c++20 -E -x c++ - >/dev/null 2>&1; then
  echo "hiding failed: the compiler still finds fast_float/fast_float.h" >&2
  exit 90
fi
for folder in "${{folders[@]}}"; do
  for tool in {tools}; do
    if [[ -x "$folder/$tool" ]]; then
      echo "hiding failed: $folder/$tool can still be run" >&2
      exit 91
    fi
  done
done
echo "hidden: fast_float headers, {tools}"
exec "$@"
""".format(header_roots=" ".join(HEADER_ROOTS), tools=" ".join(HIDDEN_TOOLS))


needs_root = pytest.mark.skipif(
    os.geteuid() != 0 or shutil.which("unshare") is None,
    reason="hiding the headers takes a private mount namespace: root and unshare(1)",
)


@pytest.fixture(scope="module")
def sdist(tmp_path_factory):
    out = tmp_path_factory.mktemp("sdist")
    run_ok([sys.executable, "-m", "build", "--sdist", "--outdir", out, ROOT], env=clean_env())
    archives = list(out.glob("*.tar.gz"))
    assert len(archives) == 1, archives
    return archives[0]


@pytest.fixture(scope="module")
def hidden_install(sdist, tmp_path_factory):
    """Installs the sdist with its test extra into a fresh venv, with the headers and the
    system's build tools hidden; returns the venv and pip's verbose log."""
    venv = tmp_path_factory.mktemp("venv-sdist") / "env"
    run_ok([sys.executable, "-m", "venv", "--without-pip", venv])
    pip = [sys.executable, "-m", "pip", "--disable-pip-version-check", "--python",
           venv / "bin" / "python", "install", "--verbose", f"{sdist}[test]"]
    completed = run(["unshare", "--mount", "--propagation", "private", "bash", "-c", HIDE, "_",
                     *pip], env=clean_env(PATH=SYSTEM_PATH), cwd=venv.parent)
    log = completed.stdout + completed.stderr
    assert completed.returncode == 0, log[-20000:]
    return venv, log


@needs_root
def test_build_tools_come_from_the_registry(hidden_install):
    _, log = hidden_install
    assert "hidden: fast_float headers, cmake ninja" in log
    # scikit-build-core asks for them when the system has none, and pip installs them into
    # the build environment.
    installed = re.findall(r"Successfully installed (.*)", log)
    assert any(re.search(r"\bcmake-\d", line) for line in installed), installed
    assert any(re.search(r"\bninja-\d", line) for line in installed), installed
    assert re.search(r"using CMake \d+\.\d+", log)


@needs_root
def test_python_suite_passes_on_the_installation(hidden_install, tmp_path):
    venv, _ = hidden_install
    completed = run([venv / "bin" / "python", "-m", "pytest", "-p", "no:cacheprovider", SUITE],
                    cwd=tmp_path, env=clean_env())
    output = completed.stdout + completed.stderr
    assert completed.returncode == 0, output[-20000:]
    module = re.search(r"^tarnex: (.*)$", output, re.MULTILINE)
    assert module, output[:2000]
    assert pathlib.Path(module.group(1)).resolve().is_relative_to(venv.resolve())
    assert re.search(r"\b\d+ passed\b", output)
