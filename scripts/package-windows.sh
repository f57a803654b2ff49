#!/usr/bin/env bash
# Packages the Windows build (scripts/build-windows.sh) into
#   build-windows/vzr-tools-VERSION-win64-setup.exe  (setup, windows/installer.nsi)
#   build-windows/vzr-tools-VERSION-win64.zip        (portable: unpack and run)
# and prints their paths. The windowed programs go in where the build made
# them. BUILD_DIR chooses another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD_DIR=$(realpath "${BUILD_DIR:-build-windows}")
STRIP=x86_64-w64-mingw32-strip

die() { echo "package-windows: $*" >&2; exit 1; }

find_program() {  # NAME.exe: its path in the build folder, or nothing
  find "$BUILD_DIR" -name "$1" -type f -not -path '*/CMakeFiles/*' -not -path '*/package/*' | head -n1
}

command -v makensis >/dev/null || die "makensis is missing (apt-get install nsis)"
command -v zip >/dev/null || die "zip is missing (apt-get install zip)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$BUILD_DIR/CMakeCache.txt" 2>/dev/null)
[[ -n $version ]] || die "no configured build in $BUILD_DIR (run scripts/build-windows.sh)"
vzr=$(find_program vzr.exe)
[[ -n $vzr ]] || die "no vzr.exe in $BUILD_DIR (run scripts/build-windows.sh)"

# Each program must run on a clean Windows with nothing beside it: it may
# import only DLLs every Windows 10 has.
system_dlls='^(kernel32|user32|gdi32|advapi32|shell32|shlwapi|ole32|oleaut32|comctl32|comdlg32|uxtheme|msvcrt|ucrtbase|bcrypt|ntdll|ws2_32|version|api-ms-win-[a-z0-9-]+)\.dll$'
check_imports() {  # PROGRAM.exe
  local foreign
  foreign=$(x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' |
    tr '[:upper:]' '[:lower:]' | grep -Ev "$system_dlls" || true)
  [[ -z $foreign ]] || die "$(basename "$1") needs DLLs a clean Windows lacks: $(echo "$foreign" | tr '\n' ' ')"
}

# And it carries this version and the manifest that makes names UTF-8 and
# long paths work.
check_resources() {  # PROGRAM.exe
  local resources
  resources=$(x86_64-w64-mingw32-windres -i "$1" -O rc 2>/dev/null) || die "$(basename "$1") has no resources"
  grep -q "VALUE \"FileVersion\", \"$version\"" <<<"$resources" ||
    die "$(basename "$1") has no version resource of $version"
  if ! grep -q 'activeCodePage[^>]*>UTF-8<' <<<"$resources" || ! grep -q 'longPathAware[^>]*>true<' <<<"$resources"; then
    die "$(basename "$1") lacks the manifest's UTF-8 code page or long-path awareness"
  fi
}

name=vzr-tools-$version-win64
stage=$BUILD_DIR/package/$name
rm -rf "$BUILD_DIR/package"
mkdir -p "$stage"
for program in vzr.exe VZR_Toolset.exe VzrPack.exe; do
  built=$(find_program "$program")
  [[ -n $built ]] || continue
  # The debugging information stays in the build folder.
  "$STRIP" -o "$stage/$program" "$built"
  check_imports "$stage/$program"
  check_resources "$stage/$program"
done
cp windows/icons/vzr-archive.ico "$stage/"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"

setup=$BUILD_DIR/$name-setup.exe
portable=$BUILD_DIR/$name.zip
rm -f "$setup" "$portable"
makensis -V2 -NOCD -DVZR_VERSION="$version" -DVZR_STAGE="$stage" -DVZR_OUTFILE="$setup" \
  "$ROOT/windows/installer.nsi" >&2
(cd "$BUILD_DIR/package" && zip -qrX9 "$portable" "$name")
ls "$setup" "$portable"
