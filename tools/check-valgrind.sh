#!/usr/bin/env bash
# Runs tests/valgrind/paths.py (every way through the module, and vormant's native calls with
# hostile arguments, tests/valgrind/hostile_calls.py) under valgrind's memcheck, with
# the interpreter allocating through malloc, and fails on a leak (definite or indirect) or a
# memory error whose stack passes through the module. The interpreter's own leaks are not ours
# and are let through.
#
#   check-valgrind.sh [PYTHON [MODULE_DIR]]
#
# PYTHON defaults to the machine's python3; without MODULE_DIR the module is built for it in
# build/valgrind.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/install-deps.sh valgrind

python="$("${1:-python3}" -c 'import sys; print(sys.executable)')"  # not a launcher script
module_dir="${2:-}"
if [[ -z "$module_dir" ]]; then
  module_dir="$(tools/build-module.sh "$python" build/valgrind)"
fi
results="$module_dir/valgrind"
mkdir -p "$results"

status=0
PYTHONMALLOC=malloc PYTHONPATH="$module_dir" valgrind --tool=memcheck --leak-check=full \
  --show-leak-kinds=definite,indirect --errors-for-leak-kinds=definite,indirect \
  --num-callers=50 --xml=yes --xml-file="$results/memcheck.xml" \
  "$python" tests/valgrind/paths.py >"$results/paths.log" 2>&1 || status=$?
if [[ "$status" != 0 ]]; then
  echo "tests/valgrind/paths.py failed under valgrind (exit $status):" >&2
  tail -n 40 "$results/paths.log" >&2
  exit 1
fi

"$python" - "$results/memcheck.xml" <<'EOF'
import os, re, sys
import xml.etree.ElementTree as ElementTree

# A frame is the module's when it lies in its library (the C++ runtime is linked into it) or
# is one of its functions.
def is_module_frame(frame):
    obj = os.path.basename(frame.findtext("obj", ""))
    function = frame.findtext("fn", "")
    return (
        re.fullmatch(r"(tarnex|_reader)\..*\.so", obj) is not None
        or function in ("PyInit_tarnex", "PyInit__reader")
        or function.startswith("tarnex::")
    )

def frame_text(frame):
    where = frame.findtext("file")
    if where:
        where += ":" + frame.findtext("line", "?")
    else:
        where = os.path.basename(frame.findtext("obj", "?"))
    return f"    {frame.findtext('fn', '???')} ({where})"

root = ElementTree.parse(sys.argv[1]).getroot()
if root.findtext("status[last()]/state") != "FINISHED":
    sys.exit("memcheck did not finish its run")
found = 0
for error in root.iter("error"):
    frames = [frame for stack in error.iter("stack") for frame in stack.iter("frame")]
    if not any(is_module_frame(frame) for frame in frames):
        continue
    found += 1
    what = error.findtext("xwhat/text") or error.findtext("what", "")
    print(f"{error.findtext('kind')}: {what}")
    print("\n".join(frame_text(frame) for frame in frames))
checked = len(root.findall("error"))
print(f"memcheck: {found} leaks or errors through the module ({checked} in the whole process)")
sys.exit(1 if found else 0)
EOF
