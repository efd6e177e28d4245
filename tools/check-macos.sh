#!/usr/bin/env bash
# Proves that both extension modules build for macOS, on Apple silicon and on Intel Macs, from
# this Linux machine. It cannot prove that they run: no Mac is at hand.
#
# For each of aarch64-macos and x86_64-macos, CMake is configured as for a Mac
# (CMAKE_SYSTEM_NAME=Darwin, the processor named) with Zig's compilers aimed at that target,
# so the choices made by target (no x86 kernels on ARM, no Linux-only calls, the macOS way of
# limiting exports) are CMake's own. tarnex and vormant._reader are compiled against the machine's
# CPython headers and linked leaving the interpreter's symbols to the loading process
# (-undefined dynamic_lookup). tools/check-macho.py then checks each product's processor, kind
# of file, and that it exports nothing of its own but its PyInit function. (Zig links its libc++
# into the module, whose replaceable operator new and delete stay visible whatever the list of
# exports says; a build on a Mac uses the system's libc++ and exports PyInit alone.)
#
# The headers' pyconfig.h was generated for this Linux interpreter. The sizes it states are the
# same on 64-bit macOS, and the modules use nothing it sets apart for Linux: good enough to
# prove the build, as a run on a Mac would prove the rest.
#
# Zig 0.17's Mach-O linker crashes when asked for a bundle (-bundle, what CMake asks for a
# module on macOS); the compiler wrapper asks it for a dynamic library in its place, which the
# interpreter's loader opens the same way. A build on a Mac with Xcode's clang links a bundle.
#
# Usage: tools/check-macos.sh      Builds in build/macos-ARCH; TARNEX_CACHE as for build-wheels.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/tools/zig-tools.sh"

started=$SECONDS
zig_tools_ready
include_dir="$(python3 -c 'import sysconfig; print(sysconfig.get_paths()["include"])')"

# write_tools TARGET DIR: Zig's compilers for TARGET, the C++ one linking a dynamic library
# where a bundle is asked for, and its archiver writing the archives Apple's linkers read.
write_tools() {
  local target="$1" dir="$2"
  zig_compilers "$target" "$dir"
  printf '#!/bin/sh\nexec "%s" -m ziglang ar --format=darwin "$@"\n' "$zig_tools_python" >"$dir/ar"
  # Apple's ranlib takes options that LLVM's does not know; the archive is all it needs.
  printf '#!/bin/sh\nfor archive; do :; done\nexec "%s" -m ziglang ranlib "$archive"\n' \
    "$zig_tools_python" >"$dir/ranlib"
  chmod +x "$dir/ar" "$dir/ranlib"
  cat >"$dir/c++" <<WRAPPER
#!/bin/sh
# Zig's Mach-O linker cannot write a bundle: a dynamic library loads the same way.
for argument; do
  shift
  if [ "\$argument" = -bundle ]; then set -- "\$@" -shared; else set -- "\$@" "\$argument"; fi
done
exec "$zig_tools_python" -m ziglang c++ -target $target "\$@"
WRAPPER
  chmod +x "$dir/c++"
}

# build_for TARGET PROCESSOR ARCH: configures and builds both modules in build/macos-ARCH, then
# checks them.
build_for() {
  local target="$1" processor="$2" arch="$3"
  local build="$root/build/macos-$arch"
  local log="$build.log"
  write_tools "$target" "$build-tools"
  {
    cmake -S "$root" -B "$build" -G Ninja --fresh \
      -DCMAKE_SYSTEM_NAME=Darwin -DCMAKE_SYSTEM_PROCESSOR="$processor" \
      -DCMAKE_C_COMPILER="$build-tools/cc" -DCMAKE_CXX_COMPILER="$build-tools/c++" \
      -DCMAKE_AR="$build-tools/ar" -DCMAKE_RANLIB="$build-tools/ranlib" \
      -DCMAKE_BUILD_TYPE=Release -DTARNEX_BUILD_MODULE=ON -DTARNEX_BUILD_FAULT_INJECTION=OFF \
      -DPython_EXECUTABLE="$(command -v python3)" -DPython_INCLUDE_DIR="$include_dir" &&
      cmake --build "$build" --target tarnex _reader
  } >"$log" 2>&1 || {
    tail -n 40 "$log"
    echo "check-macos: the build for $target failed (above: the end of $log)" >&2
    return 1
  }
  if grep -q "warning:" "$log"; then
    grep -h "warning:" "$log" | sort -u
    echo "check-macos: the compiler warned for $target (above)"
  fi
  local module status=0
  for module in "$build"/tarnex*.so "$build"/vormant/_reader*.so; do
    python3 "$root/tools/check-macho.py" "$module" "$arch" || status=1
  done
  return "$status"
}

status=0
build_for aarch64-macos arm64 arm64 || status=1
build_for x86_64-macos x86_64 x86_64 || status=1
echo "check-macos: $((SECONDS - started)) s"
exit "$status"
