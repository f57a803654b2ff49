#!/usr/bin/env bash
# Cross-builds the two libraries the Windows build links that Debian ships no
# mingw-w64 build of, as static libraries installed into one prefix:
#   GoogleTest, from the source of Debian's googletest package (/usr/src/googletest);
#   RE2, from Debian's source package of the release the Linux build links.
# The prefix is build-windows-deps/prefix (or $VZR_WINDOWS_DEPS/prefix); the
# script prints it last. A library already installed there is not built again.
# Needs the cross compiler (scripts/build-windows.sh installs it) and, the
# first time, root or sudo to reach Debian's source lists.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
DEPS=${VZR_WINDOWS_DEPS:-$ROOT/build-windows-deps}
PREFIX=$DEPS/prefix
TOOLCHAIN=${VZR_WINDOWS_TOOLCHAIN:-$ROOT/cmake/mingw-w64-x86_64.cmake}
# The RE2 release Debian bookworm builds, which the Linux build links.
RE2_VERSION=20220601
JOBS=${JOBS:-$(nproc)}

say() { echo "build-windows-deps: $*" >&2; }

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

configure_and_install() {  # NAME SOURCE_DIR [cmake options...]
  local name=$1 source=$2
  shift 2
  local build=$DEPS/build/$name
  cmake -S "$source" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$build" -j"$JOBS" >/dev/null
  cmake --install "$build" >/dev/null
}

build_googletest() {
  if [[ -f $PREFIX/lib/libgtest.a && -f $PREFIX/lib/libgmock.a ]]; then
    say "GoogleTest already built"
    return
  fi
  [[ -f /usr/src/googletest/CMakeLists.txt ]] || as_root apt-get install -y --no-install-recommends googletest
  say "building GoogleTest from /usr/src/googletest"
  configure_and_install googletest /usr/src/googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

# apt-get source needs the source lists: add deb-src beside deb on the Types
# line of the machine's own apt source file, once, and refresh the lists.
enable_source_lists() {
  local sources=/etc/apt/sources.list.d/debian.sources
  if apt-get source --print-uris re2 >/dev/null 2>&1; then return; fi
  if [[ -f $sources ]] && grep -q '^Types: deb$' "$sources"; then
    say "adding deb-src to $sources"
    as_root sed -i 's/^Types: deb$/Types: deb deb-src/' "$sources"
  fi
  as_root apt-get update -qq
}

generate() {  # OUTPUT COMMAND...: a half-written table never stays behind
  local output=$1
  shift
  [[ -s $output ]] && return
  "$@" >"$output.tmp"
  mv "$output.tmp" "$output"
}

# Debian's source leaves out three tables RE2 generates; its own generators
# make them from the Unicode data files Debian's unicode-data installs.
generate_re2_tables() {  # SOURCE_DIR
  local source=$1
  [[ -f /usr/share/unicode/UnicodeData.txt ]] || as_root apt-get install -y --no-install-recommends unicode-data
  (
    cd "$source/re2"
    # unicode.py fetches the data files from a URL; point it at the local copy.
    sed -i 's|^_UNICODE_DIR = .*|_UNICODE_DIR = "/usr/share/unicode"|' unicode.py
    generate perl_groups.cc perl make_perl_groups.pl
    generate unicode_casefold.cc python3 make_unicode_casefold.py
    generate unicode_groups.cc python3 make_unicode_groups.py
  )
}

find_re2_source() {  # CACHE_DIR: prints the unpacked source folder, if any
  [[ -d $1 ]] || return 0
  find "$1" -maxdepth 1 -type d -name "re2-$RE2_VERSION*" | head -n1
}

build_re2() {
  if [[ -f $PREFIX/lib/libre2.a && -f $PREFIX/lib/pkgconfig/re2.pc ]]; then
    say "RE2 already built"
    return
  fi
  local cache=$DEPS/src
  local source
  source=$(find_re2_source "$cache")
  if [[ -z $source ]]; then
    command -v dpkg-source >/dev/null || as_root apt-get install -y --no-install-recommends dpkg-dev
    enable_source_lists
    mkdir -p "$cache"
    say "fetching Debian's source of RE2 $RE2_VERSION"
    (cd "$cache" && apt-get source -qq re2 >/dev/null)
    source=$(find_re2_source "$cache")
    [[ -n $source ]] || { say "apt-get source gave no re2-$RE2_VERSION folder"; exit 1; }
  fi
  generate_re2_tables "$source"
  say "building RE2 from $source"
  configure_and_install re2 "$source" -DRE2_BUILD_TESTING=OFF
  write_re2_pkgconfig
}

# RE2's CMake build installs a package config but no .pc file (its Makefile
# does); write the one pkg-config users of the library look for.
write_re2_pkgconfig() {
  mkdir -p "$PREFIX/lib/pkgconfig"
  cat >"$PREFIX/lib/pkgconfig/re2.pc" <<EOF
prefix=$PREFIX
includedir=\${prefix}/include
libdir=\${prefix}/lib

Name: re2
Description: RE2 regular expressions, static, for 64-bit Windows
Version: $RE2_VERSION
Cflags: -pthread -I\${includedir}
Libs: -pthread -L\${libdir} -lre2
EOF
}

[[ -f $TOOLCHAIN ]] || { say "no toolchain file $TOOLCHAIN"; exit 1; }
mkdir -p "$PREFIX"
build_googletest
build_re2
echo "$PREFIX"
