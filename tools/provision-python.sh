#!/usr/bin/env bash
# Makes a CPython that Debian bookworm does not package (3.14 by default, or the version given
# with --version, e.g. 3.15) available on a bookworm machine: the release and debug interpreters.
#
# The interpreters come from Debian's unstable suite: their .debs (and the newer C runtime they
# need) are fetched with a private apt configuration, unpacked with `dpkg -x` into one folder,
# and the executables are pointed at that folder's loader and libraries with patchelf, so they
# run directly and sys.executable works for subprocesses. The system's apt state is not touched.
#
# Then it makes virtual environments with the test dependencies (XY is the version without its
# dot: 314 for 3.14, 315 for 3.15):
#   $TARNEX_CACHE/venvXY     pytest hypothesis scikit-build-core numpy matplotlib build, and
#                            what vormant's optional features need: pandas pyarrow dask tqdm,
#                            and where they have wheels polars duckdb xarray h5py scipy
#                            h5netcdf bokeh selenium
#   $TARNEX_CACHE/venvXYd    pytest build (debug interpreter, when it runs), and where they
#                            have wheels of the stable ABI polars duckdb
# and writes the CMake arguments that build extension modules for each interpreter:
#   $TARNEX_CACHE/cpythonXY/cmake-args.txt     (release)
#   $TARNEX_CACHE/cpythonXY/cmake-args-d.txt   (debug)
# one argument per line, for `mapfile -t args < FILE; cmake ... "${args[@]}"`.
#
# Every step is skipped when already done, so a second run is quick and needs no network.
# TARNEX_CACHE defaults to ~/.cache/tarnex. Remove $TARNEX_CACHE/debsXY to take whatever
# unstable has then (the tree is unpacked anew; the venvs stay, pointing at the same path).
#
# Usage: provision-python.sh [--version X.Y] [-v|--verbose]
#                            [--print-python | --print-python-debug |
#                             --print-cmake-args | --print-cmake-args-debug]
# The --print-* options provision silently (if needed) and print only the requested value.
set -euo pipefail

readonly SELF="provision-python"
readonly CACHE_DIR="${TARNEX_CACHE:-$HOME/.cache/tarnex}"
readonly APT_DIR="$CACHE_DIR/apt-sid"

# Set by set_version once the arguments are read.
PY_VERSION=""
TREE=""
VENV=""
VENV_DBG=""
DEB_DIR=""
LOG=""
TREE_STAMP=""
PATCH_STAMP=""
DEB_STAMP=""
CMAKE_ARGS_FILE=""
CMAKE_ARGS_FILE_DBG=""
REQUIRED_PACKAGES=()
DEBUG_PACKAGES=()

set_version() {
  [[ "$1" =~ ^3\.[0-9]+$ ]] || die "--version takes a CPython version such as 3.15, not '$1'"
  PY_VERSION="$1"
  local tag="${PY_VERSION/./}"
  TREE="$CACHE_DIR/cpython$tag"
  VENV="$CACHE_DIR/venv$tag"
  VENV_DBG="$CACHE_DIR/venv${tag}d"
  DEB_DIR="$CACHE_DIR/debs$tag"
  if [[ "$PY_VERSION" == 3.14 ]]; then
    LOG="$CACHE_DIR/provision-python.log"
  else
    LOG="$CACHE_DIR/provision-python$tag.log"
  fi
  TREE_STAMP="$TREE/.extracted"
  PATCH_STAMP="$TREE/.patched"
  DEB_STAMP="$DEB_DIR/.complete"
  CMAKE_ARGS_FILE="$TREE/cmake-args.txt"
  CMAKE_ARGS_FILE_DBG="$TREE/cmake-args-d.txt"

  # What the interpreters need at run time and to build extensions. The C runtime comes along
  # because unstable's interpreter is linked against a newer glibc/libstdc++ than bookworm's.
  local v="$PY_VERSION"
  REQUIRED_PACKAGES=(
    "python$v" "python$v-minimal" "libpython$v" "libpython$v-minimal" "libpython$v-stdlib"
    "libpython$v-dev" "python$v-dev" "python$v-venv" python3-pip-whl python3-setuptools-whl
    libc6 libgcc-s1 libstdc++6 zlib1g libexpat1 libffi8 libmpdec4 libzstd1 libbz2-1.0 liblzma5
    libsqlite3-0 libssl3t64 libtinfo6 libncursesw6 libreadline8t64 libuuid1 media-types
  )
  DEBUG_PACKAGES=("python$v-dbg" "libpython$v-dbg")
}

readonly TEST_PACKAGES=(pytest hypothesis scikit-build-core numpy matplotlib build pandas pyarrow
  "dask[dataframe,distributed]" tqdm)
readonly TEST_MODULES="pytest, hypothesis, scikit_build_core, numpy, matplotlib, build, pandas, \
pyarrow, dask.dataframe, distributed, tqdm"
readonly DEBUG_TEST_PACKAGES=(pytest build)
readonly DEBUG_TEST_MODULES="pytest, build"
# Libraries whose tests skip where they are missing: a new interpreter may have no wheel of
# them yet, and a debug interpreter loads only wheels of the stable ABI (abi3).
readonly OPTIONAL_TEST_PACKAGES=(polars duckdb xarray h5py scipy h5netcdf bokeh selenium)
readonly DEBUG_OPTIONAL_TEST_PACKAGES=(polars duckdb)

# Modules whose absence would mean a library of the tree is missing or unloadable.
readonly SMOKE_IMPORTS="ssl, sqlite3, ctypes, decimal, lzma, bz2, zlib, hashlib, uuid, venv"

mode="provision"
version="3.14"
verbose=0
current_step=""
have_debug=0

usage() {
  sed -n '2,/^set -euo/p' "$0" | sed -e '/^set -euo/d' -e 's/^# \{0,1\}//'
}

parse_args() {
  while (($#)); do
    case "$1" in
      --print-python) mode="print-python" ;;
      --print-python-debug) mode="print-python-debug" ;;
      --print-cmake-args) mode="print-cmake-args" ;;
      --print-cmake-args-debug) mode="print-cmake-args-debug" ;;
      --version)
        (($# >= 2)) || die "--version needs a value, such as 3.15"
        version="$2"
        shift
        ;;
      --version=*) version="${1#--version=}" ;;
      -v | --verbose) verbose=1 ;;
      -h | --help)
        usage
        exit 0
        ;;
      *)
        echo "$SELF: unknown option '$1' (try --help)" >&2
        exit 2
        ;;
    esac
    shift
  done
}

# ---------------------------------------------------------------------------------------------
# Reporting: one line per step on the terminal, the commands' own output in the log.

say() {
  [[ "$mode" == "provision" ]] && echo "$SELF: $*"
  return 0
}

step() {
  current_step="$1"
  echo "=== $(date '+%F %T') $1" >>"$LOG"
}

die() {
  echo "$SELF: error: $*" >&2
  exit 1
}

# On any failure: name the step and show the end of the log, where the command's words are.
on_exit() {
  local status=$?
  ((status == 0)) && return 0
  {
    echo "$SELF: step '${current_step:-setup}' failed (exit $status)."
    if [[ -s "$LOG" ]]; then
      echo "$SELF: last lines of $LOG:"
      tail -n 25 "$LOG" | sed 's/^/    /'
    fi
  } >&2
  return "$status"
}

# Runs a command with its output going to the log (and the terminal too with --verbose).
run() {
  echo "+ $*" >>"$LOG"
  if ((verbose)); then
    "$@" 2>&1 | tee -a "$LOG" >&2
    return "${PIPESTATUS[0]}"
  fi
  "$@" >>"$LOG" 2>&1
}

# ---------------------------------------------------------------------------------------------
# Machine facts.

multiarch() {
  case "$(dpkg --print-architecture)" in
    amd64) echo "x86_64-linux-gnu" ;;
    arm64) echo "aarch64-linux-gnu" ;;
    *) die "unsupported architecture '$(dpkg --print-architecture)' (amd64 or arm64 expected)" ;;
  esac
}

loader_name() {
  case "$(dpkg --print-architecture)" in
    amd64) echo "ld-linux-x86-64.so.2" ;;
    arm64) echo "ld-linux-aarch64.so.1" ;;
  esac
}

# The archive the machine's apt already uses, so the same mirror serves unstable.
archive_uri() {
  local uri=""
  local sources=/etc/apt/sources.list.d/debian.sources
  if [[ -r "$sources" ]]; then
    uri="$(awk '/^URIs:/ { for (i = 2; i <= NF; i++) if ($i !~ /security/) { print $i; exit } }' \
      "$sources")"
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

require_tools() {
  local tool
  for tool in dpkg dpkg-deb apt-get apt-cache sed awk; do
    command -v "$tool" >/dev/null || die "'$tool' is missing; this script needs a Debian system"
  done
}

# ---------------------------------------------------------------------------------------------
# apt against unstable, with every path private to the cache.

apt_options=()

set_apt_options() {
  apt_options=(
    -o "Dir::Etc::sourcelist=$APT_DIR/sources.list"
    -o "Dir::Etc::sourceparts=/dev/null"
    -o "Dir::State::Lists=$APT_DIR/lists"
    -o "Dir::Cache=$APT_DIR/cache"
    # Packages installed on this machine must not count as available from unstable.
    -o "Dir::State::status=$APT_DIR/status"
  )
  # As root apt hands downloads to the _apt user, who cannot write into the cache folder.
  if ((EUID == 0)); then
    apt_options+=(-o "APT::Sandbox::User=root")
  fi
}

apt_update_unstable() {
  mkdir -p "$APT_DIR/lists/partial" "$APT_DIR/cache/archives/partial"
  : >"$APT_DIR/status"
  echo "deb $(archive_uri) sid main" >"$APT_DIR/sources.list"
  run apt-get "${apt_options[@]}" -q update ||
    die "apt-get update of unstable from $(archive_uri) failed (see $LOG)"
  # apt-get update only warns when a fetch fails, so look for the list itself.
  compgen -G "$APT_DIR/lists/*_dists_sid_main_binary-*_Packages*" >/dev/null ||
    die "no package list of unstable could be fetched from $(archive_uri) (see $LOG)"
}

# True for a real package with a version to download (not a purely virtual name).
has_candidate() {
  local candidate
  candidate="$(apt-cache "${apt_options[@]}" policy "$1" 2>/dev/null |
    awk '$1 == "Candidate:" { print $2; exit }')"
  [[ -n "$candidate" && "$candidate" != "(none)" ]]
}

# Finds the name a package goes by in unstable now: as given, with or without the t64 suffix
# of the 64-bit time_t transition, a package providing it, or the same library with another
# soname. Prints nothing if none exists.
resolve_package() {
  local name="$1" candidate stem
  local candidates=("$name")
  if [[ "$name" == *t64 ]]; then
    candidates+=("${name%t64}")
  else
    candidates+=("${name}t64")
  fi
  for candidate in "${candidates[@]}"; do
    if has_candidate "$candidate"; then
      echo "$candidate"
      return 0
    fi
  done

  candidate="$(apt-cache "${apt_options[@]}" showpkg "$name" 2>/dev/null |
    awk '/^Reverse Provides:/ { found = 1; next } found && NF { print $1; exit }')"
  if [[ -n "$candidate" ]] && has_candidate "$candidate"; then
    echo "$candidate"
    return 0
  fi

  if [[ "$name" == lib* ]]; then
    stem="${name%t64}"
    stem="${stem%%[0-9.]*}"
    candidate="$(apt-cache "${apt_options[@]}" search --names-only "^${stem}[0-9.]+(t64)?\$" |
      awk '{ print $1 }' | sort -V | tail -n 1)"
    if [[ -n "$candidate" ]] && has_candidate "$candidate"; then
      echo "$candidate"
      return 0
    fi
  fi
  return 0
}

# Prints the current names of the given packages, one a line; unknown ones are reported on
# stderr and make the call fail unless they are optional.
resolve_packages() {
  local optional="$1"
  shift
  local name resolved missing=()
  for name in "$@"; do
    resolved="$(resolve_package "$name")"
    if [[ -z "$resolved" ]]; then
      missing+=("$name")
      continue
    fi
    [[ "$resolved" != "$name" ]] && echo "package $name is now called $resolved" >>"$LOG"
    echo "$resolved"
  done
  if ((${#missing[@]})); then
    echo "no package in unstable provides: ${missing[*]}" >>"$LOG"
    if [[ "$optional" != "optional" ]]; then
      echo "$SELF: error: unstable has no package for: ${missing[*]}" >&2
      return 1
    fi
  fi
  return 0
}

wanted_packages_key() {
  echo "${REQUIRED_PACKAGES[*]} | ${DEBUG_PACKAGES[*]}"
}

download_debs() {
  step "download"
  if [[ -f "$DEB_STAMP" && "$(head -n 1 "$DEB_STAMP")" == "$(wanted_packages_key)" ]]; then
    say "packages from Debian unstable: already downloaded"
    return 0
  fi
  say "packages from Debian unstable: downloading (about 110 MB, 90 of it the debug build)..."
  set_apt_options
  apt_update_unstable

  local required debug
  required="$(resolve_packages required "${REQUIRED_PACKAGES[@]}")" ||
    die "some packages were not found in unstable (see $LOG)"
  debug="$(resolve_packages optional "${DEBUG_PACKAGES[@]}")"

  local partial="$DEB_DIR.partial"
  rm -rf "$partial"
  mkdir -p "$partial"
  local -a names
  mapfile -t names <<<"$required"
  (cd "$partial" && run apt-get "${apt_options[@]}" -q download "${names[@]}") ||
    die "downloading the interpreter's packages failed (see $LOG)"
  if [[ -n "$debug" ]]; then
    mapfile -t names <<<"$debug"
    (cd "$partial" && run apt-get "${apt_options[@]}" -q download "${names[@]}") ||
      say "warning: the debug interpreter's packages could not be downloaded; going on without"
  fi
  printf '%s\n' "$(wanted_packages_key)" >"$partial/.complete"
  rm -rf "$DEB_DIR"
  mv "$partial" "$DEB_DIR"
  # A tree from other packages is stale now.
  rm -f "$TREE_STAMP"
}

# ---------------------------------------------------------------------------------------------
# The interpreter tree.

deb_list() {
  (cd "$DEB_DIR" && ls -1 -- *.deb)
}

extract_tree() {
  step "extract"
  if [[ -f "$TREE_STAMP" && "$(cat "$TREE_STAMP")" == "$(deb_list)" ]]; then
    say "interpreter tree $TREE: already unpacked"
    return 0
  fi
  say "interpreter tree $TREE: unpacking..."
  local partial="$TREE.partial" deb
  rm -rf "$partial"
  mkdir -p "$partial"
  for deb in "$DEB_DIR"/*.deb; do
    run dpkg -x "$deb" "$partial" || die "could not unpack $deb"
  done
  rm -rf "$TREE"
  mv "$partial" "$TREE"
  deb_list >"$TREE_STAMP"
}

ensure_patchelf() {
  command -v patchelf >/dev/null && return 0
  ((EUID == 0)) || die "patchelf is missing; install it with: sudo apt-get install -y patchelf"
  say "patchelf: installing..."
  run apt-get install -y patchelf || { run apt-get update && run apt-get install -y patchelf; } ||
    die "could not install patchelf with apt-get"
}

tree_loader() {
  local name libdir candidate
  name="$(loader_name)"
  libdir="$TREE/usr/lib/$(multiarch)"
  for candidate in "$libdir/$name" "$TREE/lib/$(multiarch)/$name" "$TREE/usr/lib64/$name" \
    "$TREE/lib64/$name"; do
    # The real file, not a symlink to it, so the path stays valid whatever the links say.
    if [[ -f "$candidate" && ! -L "$candidate" ]]; then
      echo "$candidate"
      return 0
    fi
  done
  die "the unpacked C runtime has no $name (looked under $libdir and lib64)"
}

# Makes an interpreter of the tree use the tree's own loader and libraries.
patch_interpreter() {
  local exe="$1" loader libdir
  loader="$(tree_loader)"
  libdir="$TREE/usr/lib/$(multiarch)"
  if [[ "$(patchelf --print-interpreter "$exe" 2>/dev/null)" == "$loader" &&
    "$(patchelf --print-rpath "$exe" 2>/dev/null)" == "$libdir" ]]; then
    return 0
  fi
  run patchelf --set-interpreter "$loader" --force-rpath --set-rpath "$libdir" "$exe" ||
    die "patchelf could not rewrite $exe"
}

# Debian's pyconfig.h picks the multiarch one through the system include path, which does not
# reach the tree; a relative include does.
fix_pyconfig() {
  local abi_dir="$1"
  local header="$TREE/usr/include/$abi_dir/pyconfig.h"
  local system_include="<$(multiarch)/$abi_dir/pyconfig.h>"
  local relative_include="\"../$(multiarch)/$abi_dir/pyconfig.h\""
  [[ -f "$header" ]] || return 0
  grep -qF "$system_include" "$header" || return 0
  run sed -i "s|#\\( *\\)include $system_include|#\\1include $relative_include|" "$header"
  grep -qF "$system_include" "$header" && die "could not rewrite the include in $header"
  return 0
}

release_python() { echo "$TREE/usr/bin/python$PY_VERSION"; }
debug_python() { echo "$TREE/usr/bin/python${PY_VERSION}d"; }

interpreter_runs() {
  "$1" -c "import sys; assert sys.version_info[:2] == (${PY_VERSION/./, })" >/dev/null 2>&1
}

debug_interpreter_runs() {
  [[ -x "$(debug_python)" ]] &&
    "$(debug_python)" -c "import sys; assert hasattr(sys, 'gettotalrefcount')" >/dev/null 2>&1
}

patch_tree() {
  step "patch"
  local py pyd
  py="$(release_python)"
  pyd="$(debug_python)"
  [[ -x "$py" ]] || die "the unpacked tree has no $py"
  if [[ -f "$PATCH_STAMP" ]] && interpreter_runs "$py"; then
    [[ "$(cat "$PATCH_STAMP")" == "debug=1" ]] && have_debug=1
    say "interpreters: already patched and checked"
    return 0
  fi
  ensure_patchelf
  patch_interpreter "$py"
  [[ -x "$pyd" ]] && patch_interpreter "$pyd"
  fix_pyconfig "python$PY_VERSION"
  fix_pyconfig "python${PY_VERSION}d"

  interpreter_runs "$py" || {
    run "$py" -c "import sys; print(sys.version)" || true
    die "$py does not run (see $LOG)"
  }
  run "$py" -c "import $SMOKE_IMPORTS" ||
    die "$py lacks standard modules ($SMOKE_IMPORTS; see $LOG)"
  say "interpreter $py: ready ($("$py" -c 'import platform; print(platform.python_version())'))"
  if debug_interpreter_runs; then
    run "$pyd" -c "import $SMOKE_IMPORTS" ||
      die "$pyd lacks standard modules ($SMOKE_IMPORTS; see $LOG)"
    have_debug=1
    say "debug interpreter $pyd: ready"
  else
    say "debug interpreter: not available, skipped"
  fi
  echo "debug=$have_debug" >"$PATCH_STAMP"
}

# ---------------------------------------------------------------------------------------------
# CMake: given the interpreter, FindPython (Development.Module) asks it for its include folder
# (the tree's, whose pyconfig.h is fixed above) and extension suffix; nothing else is needed.

write_cmake_args() {
  local python="$1" file="$2"
  local include
  include="$("$python" -c 'import sysconfig; print(sysconfig.get_path("include"))')"
  [[ -f "$include/Python.h" ]] ||
    die "$python reports $include as its headers folder, which has no Python.h"
  printf '%s\n' "-DPython_EXECUTABLE=$python" >"$file.tmp"
  mv "$file.tmp" "$file"
}

cmake_args() {
  step "cmake-args"
  write_cmake_args "$(release_python)" "$CMAKE_ARGS_FILE"
  if ((have_debug)); then
    write_cmake_args "$(debug_python)" "$CMAKE_ARGS_FILE_DBG"
  else
    rm -f "$CMAKE_ARGS_FILE_DBG"
  fi
  say "CMake arguments: $CMAKE_ARGS_FILE"
}

# ---------------------------------------------------------------------------------------------
# Virtual environments.

# True when the venv exists, runs, and is based on this tree's interpreter.
venv_ok() {
  local venv="$1" base_python="$2"
  [[ -x "$venv/bin/python" ]] || return 1
  [[ "$(readlink -f "$venv/bin/python")" == "$(readlink -f "$base_python")" ]] || return 1
  "$venv/bin/python" -c 'import sys; assert sys.prefix != sys.base_prefix' >/dev/null 2>&1
}

# Debian's ensurepip looks for its wheels under /usr/share, which this tree is not, so pip is
# installed from the tree's own wheel by running pip straight out of it.
bootstrap_pip() {
  local venv="$1"
  "$venv/bin/python" -m pip --version >/dev/null 2>&1 && return 0
  local wheels=("$TREE"/usr/share/python-wheels/pip-*-py3-none-any.whl)
  [[ -f "${wheels[0]}" ]] || die "no pip wheel under $TREE/usr/share/python-wheels"
  run "$venv/bin/python" "${wheels[0]}/pip" install --no-index "${wheels[0]}" ||
    die "could not install pip into $venv (see $LOG)"
}

make_venv() {
  local venv="$1" base_python="$2" modules="$3"
  shift 3
  local packages=("$@")
  local name
  name="$(basename "$venv")"
  step "venv $name"
  if venv_ok "$venv" "$base_python" && "$venv/bin/python" -I -c "import $modules" >/dev/null 2>&1
  then
    say "venv $venv: ready"
    return 0
  fi
  if ! venv_ok "$venv" "$base_python"; then
    say "venv $venv: creating..."
    rm -rf "$venv"
    run "$base_python" -m venv --without-pip "$venv" || die "could not create the venv $venv"
  fi
  bootstrap_pip "$venv"
  say "venv $venv: installing ${packages[*]}..."
  run "$venv/bin/python" -m pip install "${packages[@]}" ||
    die "could not install ${packages[*]} into $venv (see $LOG)"
  # -I: a folder of the working directory (build/, say) must not pass for a package.
  run "$venv/bin/python" -I -c "import $modules" ||
    die "$venv cannot import $modules after install"
}

# Installs each package that has a wheel for the venv's interpreter, and notes the others in
# the log. Tried once per list of packages (a stamp in the venv), so that a second run needs
# no network even where a wheel is missing.
install_optional() {
  local venv="$1" package
  shift
  local stamp="$venv/.optional-packages"
  [[ -f "$stamp" && "$(cat "$stamp")" == "$*" ]] && return 0
  step "optional packages $(basename "$venv")"
  for package in "$@"; do
    if run "$venv/bin/python" -m pip install --only-binary=:all: "$package"; then
      say "venv $venv: $package installed"
    else
      say "venv $venv: no wheel of $package for this interpreter; its tests will skip"
    fi
  done
  printf '%s\n' "$*" >"$stamp"
}

make_venvs() {
  make_venv "$VENV" "$(release_python)" "$TEST_MODULES" "${TEST_PACKAGES[@]}"
  install_optional "$VENV" "${OPTIONAL_TEST_PACKAGES[@]}"
  if ((have_debug)); then
    make_venv "$VENV_DBG" "$(debug_python)" "$DEBUG_TEST_MODULES" "${DEBUG_TEST_PACKAGES[@]}"
    install_optional "$VENV_DBG" "${DEBUG_OPTIONAL_TEST_PACKAGES[@]}"
  fi
}

# ---------------------------------------------------------------------------------------------

# Serialises concurrent runs on the same cache (several builds may ask at once).
take_lock() {
  command -v flock >/dev/null || return 0
  exec 9>"$CACHE_DIR/.provision.lock"
  flock 9
}

provision() {
  mkdir -p "$CACHE_DIR"
  take_lock
  : >"$LOG"
  trap on_exit EXIT
  require_tools
  download_debs
  extract_tree
  patch_tree
  cmake_args
  make_venvs
  trap - EXIT
}

print_result() {
  case "$mode" in
    provision) say "python $PY_VERSION: $VENV/bin/python" ;;
    print-python) echo "$VENV/bin/python" ;;
    print-python-debug)
      ((have_debug)) || die "the debug interpreter is not available here"
      echo "$VENV_DBG/bin/python"
      ;;
    print-cmake-args) cat "$CMAKE_ARGS_FILE" ;;
    print-cmake-args-debug)
      ((have_debug)) || die "the debug interpreter is not available here"
      cat "$CMAKE_ARGS_FILE_DBG"
      ;;
  esac
}

main() {
  parse_args "$@"
  set_version "$version"
  provision
  print_result
}

main "$@"
