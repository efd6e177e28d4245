#!/usr/bin/env bash
# Runs the tests under the sanitizers:
#   1. AddressSanitizer + UndefinedBehaviorSanitizer (first error fatal): the C++ reader tests,
#      then the Python suite on the default python3 against an instrumented module, with the
#      sanitizer runtimes preloaded into the (uninstrumented) interpreter and leak checking on;
#   2. ThreadSanitizer: the C++ tests that run many threads at once.
# Builds in build/asan and build/tsan. Exits non-zero on the first failing step.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
source tools/robustness-common.sh

tools/install-deps.sh
python="$(default_test_python)"
configure=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARNEX_BUILD_TESTS=ON)

# Leaks are checked at the exit of every instrumented process, the interpreter's children
# included; the interpreter's own blocks are suppressed by tests/sanitizers/lsan.supp.
export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

echo "== ASan+UBSan: C++ reader tests"
asan_args=("${configure[@]}" -DTARNEX_SANITIZE=address)
cmake -S . -B build/asan "${asan_args[@]}" -DTARNEX_BUILD_MODULE=ON \
  -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build/asan --target tarnex_reader_tests
build/asan/tarnex_reader_tests --gtest_brief=1 --gtest_filter="-$value_sweeps"

echo "== ASan+UBSan: Python suite on $python"
module_dir="$PWD/$(tools/build-module.sh "$python" build/asan "${asan_args[@]}")"
# The interpreter is not instrumented, so the runtimes must be loaded before anything else.
preload="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libubsan.so)"
# The tests that cap the address space skip themselves here: the sanitizer's shadow memory does
# not fit under such a cap.
LD_PRELOAD="$preload" run_python_suite "$python" "$module_dir"

echo "== TSan: C++ tests of many threads"
cmake -S . -B build/tsan "${configure[@]}" -DTARNEX_SANITIZE=thread -DTARNEX_BUILD_MODULE=OFF \
  >/dev/null
cmake --build build/tsan --target tarnex_reader_tests
build/tsan/tarnex_reader_tests --gtest_brief=1 --gtest_filter='*Threads*' --gtest_repeat=20
# Reads split over threads, faulty files among them, and block indexes scanned by several
# threads, and reads from guessed step starts: fewer rounds, each reads many files.
build/tsan/tarnex_reader_tests --gtest_brief=1 --gtest_filter='*ThreadSplit*:*Faults*:*SharedScan*:*GuessedStarts*' \
  --gtest_repeat=1
