#!/usr/bin/env bash
# Makes Debian bookworm's arm64 CPython 3.11 runnable on this x86-64 machine, under qemu-user
# emulation (qemu-aarch64-static, from tools/install-deps.sh), for the tests of the aarch64
# wheel.
#
# The interpreter's .debs and those of the libraries it loads are fetched for arm64 with a
# private apt configuration (the system's architectures and package state are not touched) from
# the archive the machine's apt uses, and unpacked with `dpkg-deb -x` into one root folder. The
# interpreter then runs as `qemu-aarch64-static -L ROOT ROOT/usr/bin/python3.11`: qemu looks for
# the loader and every absolute path in ROOT first.
#
# Prints ROOT. Skipped when done (a stamp names the packages); TARNEX_CACHE as for the other
# scripts (default ~/.cache/tarnex), the root is $TARNEX_CACHE/arm64-python3.11.
set -euo pipefail
cache="${TARNEX_CACHE:-$HOME/.cache/tarnex}"
root="$cache/arm64-python3.11"
apt_dir="$cache/apt-bookworm-arm64"
log="$cache/provision-arm64-python.log"
packages=(
  python3.11 python3.11-minimal libpython3.11-minimal libpython3.11-stdlib media-types
  libc6 libgcc-s1 zlib1g libexpat1 libffi8 libbz2-1.0 liblzma5 libssl3 libsqlite3-0
  libncursesw6 libtinfo6 libreadline8 libuuid1 libcrypt1 libnsl2 libtirpc3 libgssapi-krb5-2
  libkrb5-3 libk5crypto3 libcom-err2 libkrb5support0 libkeyutils1 libdb5.3 libgdbm6
)
stamp="$root/.packages"

die() {
  echo "provision-arm64-python: error: $*" >&2
  exit 1
}

# The archive the machine's apt already uses (the first that is not the security one).
archive_uri() {
  local uri="" sources=/etc/apt/sources.list.d/debian.sources
  if [[ -r "$sources" ]]; then
    uri="$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' \
      "$sources")"
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

# Downloads the arm64 .debs into $apt_dir/debs, through apt with every path private.
download() {
  local options=(
    -o "APT::Architecture=arm64" -o "APT::Architectures::=arm64"
    -o "Dir::Etc::sourcelist=$apt_dir/sources.list" -o "Dir::Etc::sourceparts=/dev/null"
    -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
    -o "Dir::State::status=$apt_dir/status"
  )
  # As root apt hands downloads to the _apt user, who cannot write into the cache folder.
  ((EUID == 0)) && options+=(-o "APT::Sandbox::User=root")
  mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/debs"
  : >"$apt_dir/status"
  echo "deb [arch=arm64] $(archive_uri) bookworm main" >"$apt_dir/sources.list"
  apt-get "${options[@]}" -q update >>"$log" 2>&1 || die "apt-get update failed (see $log)"
  rm -f "$apt_dir/debs"/*.deb
  (cd "$apt_dir/debs" && apt-get "${options[@]}" -q download "${packages[@]/%/:arm64}") \
    >>"$log" 2>&1 || die "the arm64 packages could not be downloaded (see $log)"
}

if [[ ! -f "$stamp" || "$(cat "$stamp")" != "${packages[*]}" ]]; then
  command -v qemu-aarch64-static >/dev/null || die "qemu-aarch64-static is missing" \
    "(tools/install-deps.sh installs it)"
  mkdir -p "$cache"
  : >"$log"
  download
  rm -rf "$root"
  mkdir -p "$root"
  for deb in "$apt_dir/debs"/*.deb; do
    dpkg-deb -x "$deb" "$root"
  done
  qemu-aarch64-static -L "$root" "$root/usr/bin/python3.11" -c \
    'import ssl, sqlite3, ctypes, decimal, lzma, bz2, zlib, hashlib, uuid, platform
assert platform.machine() == "aarch64", platform.machine()' >>"$log" 2>&1 ||
    die "the arm64 interpreter does not run (see $log)"
  printf '%s\n' "${packages[*]}" >"$stamp"
fi
echo "$root"
