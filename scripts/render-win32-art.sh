#!/bin/sh
# Renders the Windows programs' icons and VzrPack's button bitmaps from the
# painters the Linux windows draw them with, into the resource folders
# toolset/win32 and quickpack/win32. Run from a Linux build folder's parent:
#   scripts/render-win32-art.sh [BUILD_DIR]
# Needs the Qt build and ImageMagick's convert.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
ninja -C "$build" vzr_iconrender vzr_buttonrender
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/desktop/vzr_iconrender" "$work"
"$build/quickpack/vzr_buttonrender" "$work"
ico() {  # ico NAME OUT: every size Windows asks for, in one .ico
  convert $(for s in 16 24 32 48 64 256; do echo "$work/hicolor/${s}x$s/apps/$1.png"; done) "$2"
}
ico vzr-toolset "$top/toolset/win32/toolset.ico"
ico vzrpack "$top/quickpack/win32/vzrpack.ico"
for name in packlevel packlevel_pressed packfolder packfolder_pressed all all_pressed; do
  # 256 colours, no alpha: what the buttons' bitmaps are.
  convert "$work/$name.png" -background white -alpha remove -colors 256 -type Palette -compress none "BMP3:$top/quickpack/win32/$name.bmp"
done
