#!/usr/bin/env bash
# Installs what the fuzz targets need besides the project's usual packages: clang with libFuzzer
# and its sanitizer runtimes. Clang 16, because the reader uses std::source_location, which
# GCC 12's library offers only to compilers with __builtin_source_location (clang 15 and later).
set -euo pipefail
exec "$(dirname "${BASH_SOURCE[0]}")/install-deps.sh" clang-16 libclang-rt-16-dev "$@"
