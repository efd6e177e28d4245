#!/usr/bin/env bash
# Installs what the tests need, builds the reader tests and the module for every interpreter of
# the matrix, and runs every test: the C++ reader suite once, the Python suite per interpreter
# and per forced vector kernel level, the packaging tests, the wheels users install (the aarch64
# one under emulation), the macOS cross builds, then the robustness checks (valgrind,
# sanitizers, coverage, fuzzing). Ends with the time each stage took.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

timings=()
stage_name=""
stage_start=$SECONDS
# Starts the next stage (none, when called without a name) and notes how long the last one took.
stage() {
  if [[ -n "$stage_name" ]]; then
    timings+=("$(printf '%6d s  %s' $((SECONDS - stage_start)) "$stage_name")")
  fi
  stage_name="${1:-}"
  stage_start=$SECONDS
  [[ -z "$stage_name" ]] || echo "== $stage_name"
}

stage "Dependencies and CPython 3.14, 3.15"
tools/install-deps.sh
tools/provision-python.sh --version 3.14
tools/provision-python.sh --version 3.15

status=0
stage "C++ reader tests"
cmake -S . -B build/cpp-tests -G Ninja -DTARNEX_BUILD_TESTS=ON -DTARNEX_BUILD_MODULE=OFF >/dev/null
cmake --build build/cpp-tests
ctest --test-dir build/cpp-tests --output-on-failure -j "$(nproc)" || status=1

default_tag="$(python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
beyond_4gib=1  # a value line longer than 4 GiB (8 GB of memory): once, on the first interpreter
while read -r tag python; do
  # The other pyenv CPythons pass the suite on their wheels, in the wheel stage.
  [[ "$tag" == 3.14* || "$tag" == 3.15* || "$tag" == "$default_tag" ]] || continue
  stage "Python suite on CPython $tag"
  echo "   ($python)"
  module_dir="$(tools/build-module.sh "$python" "build/py-$tag")"
  TARNEX_SCALE_BEYOND_4GIB="$beyond_4gib" TARNEX_MODULE_DIR="$PWD/$module_dir" \
    "$python" -m pytest -q -p no:cacheprovider tests/python || status=1
  beyond_4gib=0
  # A wheel built as users build it, installed into a fresh virtual environment, and the sdist
  # installed where the system has no fast_float, CMake or Ninja: once, on the first
  # interpreter; the wheel stage builds and tests a wheel for every other one.
  if [[ "$tag" == 3.14 ]]; then
    stage "Packaging tests on CPython $tag"
    "$python" -m pytest -q -p no:cacheprovider tests/packaging || status=1
  fi
done < <(tools/python-matrix.sh)

# The module picks its vector kernel at run time; a test-only build option holds it to one level,
# so that the suite's reads run on every kernel this machine has. Only the files whose outcome
# the kernel decides (values, and the first failure of a read) run again per level; the C++
# suite holds every level against the exact path field by field.
source tools/robustness-common.sh
simd_python="$(default_test_python)"
kernel_tests=(test_reading.py test_panic.py test_bench_peer.py test_vormant_read.py
  test_vormant_open.py test_vormant_parts.py test_vormant_many.py)
# The AVX-512 level only where the processor has the subsets its kernel uses.
kernel_levels=(portable sse41 avx2)
if grep -qw avx512f /proc/cpuinfo && grep -qw avx512bw /proc/cpuinfo &&
  grep -qw avx512dq /proc/cpuinfo && grep -qw avx512vl /proc/cpuinfo; then
  kernel_levels+=(avx512)
else
  echo "== The avx512 kernel level is skipped: this processor lacks AVX-512"
fi
for level in "${kernel_levels[@]}"; do
  stage "Python reads on the $level kernel level ($simd_python)"
  module_dir="$(tools/build-module.sh "$simd_python" "build/py-simd-$level" \
    -DTARNEX_FORCE_SIMD_LEVEL="$level")"
  (cd tests/python && TARNEX_MODULE_DIR="$OLDPWD/$module_dir" \
    "$simd_python" -m pytest -q -p no:cacheprovider "${kernel_tests[@]}") || status=1
done

stage "Wheels: manylinux builds for CPython 3.11 to 3.15, x86-64 and aarch64, x86-64 ones tested"
tools/build-wheels.sh || status=1

stage "aarch64: the cp311 wheel in Debian's arm64 CPython under qemu, against x86-64's results"
tools/check-arm64.sh || status=1

stage "macOS: both modules cross-built for arm64 and x86-64, linked, exports checked"
tools/check-macos.sh || status=1

stage "valgrind memcheck of the module"
tools/check-valgrind.sh || status=1

stage "Sanitizers: AddressSanitizer with UndefinedBehaviorSanitizer, and ThreadSanitizer"
tools/check-sanitizers.sh || status=1

stage "Coverage of src/ by both suites (at least 95% of lines)"
tools/check-coverage.sh || status=1

stage "Fuzzing: a minute per target"
tools/install-fuzz-deps.sh
tools/run-fuzz.sh 60 || status=1

stage
echo "== Time per stage"
printf '%s\n' "${timings[@]}"
printf '%6d s  in all\n' "$SECONDS"
exit "$status"
