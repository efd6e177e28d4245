#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (in build/fuzz, with clang++-16) and runs each for
# SECONDS (default 60), all at once, from its seed corpus in tests/fuzz/corpus. New inputs go
# to build/fuzz/corpus-TARGET, crashing ones to build/fuzz/artifacts-TARGET. Prints libFuzzer's
# final statistics (executions, time) per target; exits non-zero if any target found a fault.
# Usage: tools/run-fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${1:-60}"
targets=(reader binary32 fast_fields range_reader)

tools/install-fuzz-deps.sh
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++-16 -DTARNEX_FUZZ=ON -DTARNEX_BUILD_MODULE=OFF \
  -DTARNEX_BUILD_TESTS=OFF >/dev/null
cmake --build build/fuzz --target "${targets[@]/#/fuzz_}"

declare -A runs
for target in "${targets[@]}"; do
  mkdir -p "build/fuzz/corpus-$target" "build/fuzz/artifacts-$target"
  "build/fuzz/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
    -artifact_prefix="build/fuzz/artifacts-$target/" \
    "build/fuzz/corpus-$target" "tests/fuzz/corpus/$target" >"build/fuzz/fuzz_$target.log" 2>&1 &
  runs[$target]=$!
done

status=0
for target in "${targets[@]}"; do
  echo "== fuzz_$target (${seconds} s)"
  log="build/fuzz/fuzz_$target.log"
  if ! wait "${runs[$target]}"; then
    status=1
    echo "fuzz_$target found a fault; its report ($log):"
    grep -v -E '^#[0-9]+' "$log" | tail -n 60
  fi
  grep -E '^Done [0-9]+ runs|^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' "$log" || true
done
exit "$status"
