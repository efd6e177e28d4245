#!/usr/bin/env bash
# Builds the module for the default python3 (when not built yet) and reads the bundled sample
# plot files through `import tarnex`.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
tools/install-deps.sh
python="${PYTHON:-$(command -v python3)}"
tag="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
module_dir="$(tools/build-module.sh "$python" "build/py-$tag" 2>/dev/null)"
PYTHONPATH="$PWD/$module_dir${PYTHONPATH:+:$PYTHONPATH}" "$python" examples/read_samples.py
