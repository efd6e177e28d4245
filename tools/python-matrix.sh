#!/usr/bin/env bash
# Prints the interpreters the suite runs on, one "TAG PYTHON" per line, each a virtual
# environment with the test dependencies: CPython 3.14 and 3.15, each with its debug build
# (which checks the reference counts), then the machine's default python3, then any other
# CPython 3.11 to 3.13 that pyenv has.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cache="${TARNEX_CACHE:-$HOME/.cache/tarnex}"
# vormant's optional features are tested where these install: pandas, Parquet, Dask, progress
# bars, plots and the view (driven in a browser by selenium); 'build' makes the sdists and wheels
# of the packaging tests.
test_packages=(pytest hypothesis numpy pandas pyarrow "dask[dataframe,distributed]" tqdm matplotlib
  bokeh selenium build)
test_modules="pytest, hypothesis, numpy, pandas, pyarrow, dask.dataframe, distributed, tqdm, \
matplotlib, bokeh, selenium, build"
# Where they have wheels for the interpreter; their tests skip where they are missing.
optional_packages=(polars duckdb xarray h5py scipy h5netcdf)

# install_optional VENV: each optional package that has a wheel, tried once (a stamp in VENV).
install_optional() {
  local stamp="$1/.optional-packages" package
  [[ -f "$stamp" && "$(cat "$stamp")" == "${optional_packages[*]}" ]] && return 0
  for package in "${optional_packages[@]}"; do
    "$1/bin/python" -m pip install -q --disable-pip-version-check --only-binary=:all: \
      "$package" >&2 || echo "python-matrix: no wheel of $package for $1; its tests skip" >&2
  done
  printf '%s\n' "${optional_packages[*]}" >"$stamp"
}

# make_venv TAG INTERPRETER: a venv under the cache with the test packages; prints its python.
make_venv() {
  local venv="$cache/venv-$1"
  if [[ ! -x "$venv/bin/python" ]]; then
    "$2" -m venv "$venv" >&2
  fi
  if ! "$venv/bin/python" -I -c "import $test_modules" 2>/dev/null; then
    "$venv/bin/python" -m pip install -q --disable-pip-version-check "${test_packages[@]}" >&2
  fi
  install_optional "$venv"
  echo "$venv/bin/python"
}

for version in 3.14 3.15; do
  echo "$version $("$here/provision-python.sh" --version "$version" --print-python)"
  debug_python="$("$here/provision-python.sh" --version "$version" --print-python-debug \
    2>/dev/null || true)"
  [[ -n "$debug_python" ]] && echo "${version}d $debug_python"
done
default_python="$(command -v python3)"
default_tag="$("$default_python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
echo "$default_tag $(make_venv "$default_tag" "$default_python")"
for version in 3.11 3.12 3.13; do
  [[ "$version" == "$default_tag" ]] && continue
  candidate="$(ls -d "${PYENV_ROOT:-$HOME/.pyenv}/versions/$version".*/bin/python3 2>/dev/null | tail -n 1)"
  [[ -n "$candidate" ]] && echo "$version $(make_venv "$version" "$candidate")"
done
exit 0
