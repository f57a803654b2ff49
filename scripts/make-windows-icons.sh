#!/usr/bin/env bash
# Remakes windows/icons/vzr-archive.ico, the icon of the .vzr file type and
# of vzr.exe, from the artwork the Linux desktop shows for the file type (the
# windows' own icons sit beside their resource scripts). It holds 16 to 256
# pixels; the 256 one is stored as PNG, as Windows expects. Needs the Linux
# build with Qt (build/, or $BUILD_DIR) for the renderer, and icoutils. The
# .ico is committed: the Windows build has no Qt to paint with.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
command -v icotool >/dev/null || {
  if [[ $(id -u) -eq 0 ]]; then apt-get install -y -qq icoutils >/dev/null; else sudo apt-get install -y -qq icoutils >/dev/null; fi
}
[[ -f $BUILD_DIR/CMakeCache.txt ]] || cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" --target vzr_iconrender >/dev/null
renderer=$(find "$BUILD_DIR" -name vzr_iconrender -type f -perm -u+x | head -n1)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$renderer" "$work"
mkdir -p windows/icons
make_ico() {  # OUTPUT CONTEXT NAME
  local pngs=()
  for side in 16 24 32 48 64 128; do
    pngs+=("$work/hicolor/${side}x$side/$2/$3.png")
  done
  icotool -c -o "$1" "${pngs[@]}" -r "$work/hicolor/256x256/$2/$3.png"
}
make_ico windows/icons/vzr-archive.ico mimetypes application-x-vzr-archive
ls -l windows/icons/vzr-archive.ico
