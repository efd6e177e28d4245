#!/usr/bin/env bash
# Builds the extension module for one interpreter: build-module.sh PYTHON BUILD_DIR [CMAKE ARGS].
# Prints the folder that holds the built module.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
python="$1"
build_dir="$2"
shift 2
cmake -S "$here/.." -B "$build_dir" -G Ninja -DTARNEX_BUILD_MODULE=ON \
  -DPython_EXECUTABLE="$python" "$@" >/dev/null
cmake --build "$build_dir" >&2
echo "$build_dir"
