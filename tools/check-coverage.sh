#!/usr/bin/env bash
# Measures how much of src/ the tests run: builds the reader tests and the module for the
# default python3 with gcov counters (build/coverage, unoptimised), runs the C++ reader tests
# and the Python suite, and reports line and branch coverage of src/ with gcovr (an HTML report
# goes to build/coverage/html/). Fails when line coverage of src/ is below 95 % (or below
# TARNEX_MIN_LINE_COVERAGE, when set).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source tools/robustness-common.sh

tools/install-deps.sh gcovr
python="$(default_test_python)"
build=build/coverage
configure=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DTARNEX_COVERAGE=ON -DTARNEX_BUILD_TESTS=ON)

cmake -S . -B "$build" "${configure[@]}" -DTARNEX_BUILD_MODULE=ON -DPython_EXECUTABLE="$python" \
  >/dev/null
# Counters of an earlier run would add to this one's, or belong to code that has changed since.
find "$build" -name '*.gcda' -delete

echo "== C++ reader tests (coverage build)"
cmake --build "$build" --target tarnex_reader_tests tarnex_flush_on_abort
# Processes that abort (death tests, last-resort reports) write their counters too.
flush_on_abort="$PWD/$build/libtarnex_flush_on_abort.so"
LD_PRELOAD="$flush_on_abort" "$build/tarnex_reader_tests" --gtest_brief=1 \
  --gtest_filter="-$value_sweeps"

echo "== Python suite on $python (coverage build)"
module_dir="$PWD/$(tools/build-module.sh "$python" "$build" "${configure[@]}")"
LD_PRELOAD="$flush_on_abort" run_python_suite "$python" "$module_dir"

echo "== Coverage of src/"
mkdir -p "$build/html"
# Branches that only exception unwinding or the compiler's own bookkeeping can take are left
# out; they have no counterpart in the source.
gcovr --root . --filter 'src/' --exclude-unreachable-branches --exclude-throw-branches \
  --html-details "$build/html/index.html" --print-summary \
  --fail-under-line "${TARNEX_MIN_LINE_COVERAGE:-95}" "$build"
