#!/usr/bin/env bash
# Installs the Debian packages that building and testing tarnex need, when any is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ patchelf       # build
  ccache                               # the wheels: one reader compiled for all interpreters
  libfast-float-dev                    # the tests' second reference converter; the wheel build
  libgtest-dev libmpfr-dev libgmp-dev  # C++ tests and their rounding reference
  qemu-user-static                     # the arm64 interpreter that tests the aarch64 wheel
  chromium chromium-driver             # the browser that the tests of vormant view drive
)
packages+=("$@")

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
