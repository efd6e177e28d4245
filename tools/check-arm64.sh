#!/usr/bin/env bash
# Proves the aarch64 wheel on 64-bit ARM Linux without an ARM machine: the cp311 wheel is
# installed into Debian bookworm's arm64 CPython 3.11 (tools/provision-arm64-python.sh), which
# runs under qemu-user emulation, and the core of the Python suite runs there:
#   - tests/port compares every record of tests/port/port_cases.py (values bit for bit, every
#     fatal message with its report, vormant.read's values and errors) with those the x86-64
#     cp311 wheel gives on this machine (built by the same compiler, so that even the source
#     columns the reports name agree);
#   - the reading, panic, binding and module tests of tests/python, against their own exact
#     expectations, their child interpreters emulated too (TARNEX_CHILD_PYTHON).
# The rest of tests/python needs numpy or hypothesis, or proves what does not depend on the
# processor (packaging, resources, scale), and runs natively only.
#
# Usage: tools/check-arm64.sh      after tools/build-wheels.sh, whose wheelhouse/ holds both
# cp311 wheels. TARNEX_CACHE as for the other scripts: the arm64 root and pytest stay there.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${TARNEX_CACHE:-$HOME/.cache/tarnex}"
started=$SECONDS
die() {
  echo "check-arm64: error: $*" >&2
  exit 1
}

# one_wheel PATTERN: the single wheel of wheelhouse/ that matches.
one_wheel() {
  local found=("$root"/wheelhouse/$1)
  [[ -f "${found[0]}" && ${#found[@]} == 1 ]] ||
    die "wheelhouse/ holds no single $1 (tools/build-wheels.sh 3.11 makes it)"
  echo "${found[0]}"
}
arm_wheel="$(one_wheel 'tarnex-*-cp311-cp311-*manylinux_2_17_aarch64.whl')"
x86_wheel="$(one_wheel 'tarnex-*-cp311-cp311-*_x86_64.whl')"

arm_root="$("$root/tools/provision-arm64-python.sh")"
emulated=(qemu-aarch64-static -L "$arm_root" "$arm_root/usr/bin/python3.11")
# Debian's interpreter looks for installed packages here; nothing else of the root uses it.
site="$arm_root/usr/local/lib/python3.11/dist-packages"
pip_for_arm=(python3 -m pip install -q --disable-pip-version-check --no-warn-script-location
  --target "$site" --platform manylinux_2_17_aarch64 --python-version 3.11
  --implementation cp --only-binary=:all:)

# pytest, once: pure Python, so the wheels PyPI has are the same for every processor.
if ! "${emulated[@]}" -c 'import pytest' 2>/dev/null; then
  "${pip_for_arm[@]}" pytest || die "pytest could not be installed for the arm64 interpreter"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/tarnex-arm64.XXXXXX")"
trap 'rm -rf "$work"' EXIT

# The wheel installed as pip installs it, in place of the one a run before left.
rm -rf "$site"/tarnex* "$site"/vormant* "$site"/bin
"${pip_for_arm[@]}" --no-deps "$arm_wheel" || die "pip could not install ${arm_wheel##*/}"

# The records of x86-64, from its own wheel.
python3 -m pip install -q --disable-pip-version-check --no-deps --target "$work/x86-64" \
  "$x86_wheel" || die "pip could not install ${x86_wheel##*/}"
PYTHONPATH="$work/x86-64" python3 "$root/tests/port/port_cases.py" "$work/expected.json"
echo "check-arm64: ${arm_wheel##*/} installed; reference made ($((SECONDS - started)) s)"

core=(test_reading.py test_panic.py test_binding.py test_module.py)
status=0
(cd "$work" && TARNEX_PORT_EXPECTED="$work/expected.json" TARNEX_CHILD_PYTHON="${emulated[*]}" \
  "${emulated[@]}" -m pytest -q -p no:cacheprovider --rootdir "$root" "$root/tests/port" \
  "${core[@]/#/$root/tests/python/}") || status=1
echo "check-arm64: $((SECONDS - started)) s"
exit "$status"
