#!/usr/bin/env bash
# Builds the 64-bit Windows programs on Linux with Debian's mingw-w64 into
# build-windows/ (or $BUILD_DIR): vzr.exe, and the windowed programs where
# the tree builds them. Installs what is missing first (the cross compiler,
# wine to run the tests, NSIS and zip to package), then the cross-built
# libraries (scripts/build-windows-deps.sh). Extra arguments go to cmake.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=${BUILD_DIR:-build-windows}
TOOLCHAIN=${VZR_WINDOWS_TOOLCHAIN:-$ROOT/cmake/mingw-w64-x86_64.cmake}
export VZR_WINDOWS_TOOLCHAIN=$TOOLCHAIN

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

# Each Debian package with a file that shows it is there.
install_missing_tools() {
  local -A needs=(
    [g++-mingw-w64-x86-64-posix]=/usr/bin/x86_64-w64-mingw32-g++-posix
    [binutils-mingw-w64-x86-64]=/usr/bin/x86_64-w64-mingw32-windres
    [cmake]=/usr/bin/cmake
    [ninja-build]=/usr/bin/ninja
    [pkg-config]=/usr/bin/pkg-config
    [googletest]=/usr/src/googletest/CMakeLists.txt
    [unicode-data]=/usr/share/unicode/UnicodeData.txt
    [dpkg-dev]=/usr/bin/dpkg-source
    [wine]=/usr/bin/wine
    [wine64]=/usr/lib/wine/wine64
    [nsis]=/usr/bin/makensis
    [zip]=/usr/bin/zip
  )
  local missing=()
  for package in "${!needs[@]}"; do
    [[ -e ${needs[$package]} ]] || missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "build-windows: installing ${missing[*]}" >&2
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

install_missing_tools
[[ -f $TOOLCHAIN ]] || { echo "build-windows: no toolchain file $TOOLCHAIN" >&2; exit 1; }
DEPS_PREFIX=$(scripts/build-windows-deps.sh)

# The cross-built libraries sit outside the mingw-w64 root the toolchain
# searches; a toolchain of the build's own adds them as a second root.
mkdir -p "$BUILD_DIR"
cat >"$BUILD_DIR/toolchain-with-deps.cmake" <<EOF
include("$TOOLCHAIN")
list(APPEND CMAKE_FIND_ROOT_PATH "$DEPS_PREFIX")
EOF
export PKG_CONFIG_LIBDIR=$DEPS_PREFIX/lib/pkgconfig
unset PKG_CONFIG_PATH

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$BUILD_DIR" -G Ninja "${launcher[@]}" \
  -DCMAKE_TOOLCHAIN_FILE="$(realpath "$BUILD_DIR")/toolchain-with-deps.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVZR_BUILD_BENCH=OFF "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"${JOBS:-$(nproc)}"
