#!/bin/sh
# The tests of the Win32 windows: the dialogs in process (win32ui_tests),
# then the smoke tests of VZR_Toolset.exe and VzrPack.exe: each window is started
# under wine on a virtual X display (xvfb-run), driven, closed, and its
# archive checked; a PNG screenshot of each is kept in BUILD_DIR/screenshots.
#   scripts/test-windows-gui.sh [BUILD_DIR]     (default: build-windows)
# VZR_GUI_DPI=144 runs them at 150% (in a wine prefix of that DPI), the
# screenshots then named with the DPI.
# Exit 0 passed, 1 failed, 77 skipped (no wine or no X server to be had).
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build-windows}" && pwd) || exit 1
skip() { echo "SKIPPED: $*"; exit 77; }
command -v wine >/dev/null 2>&1 || skip "wine is not installed"
command -v xvfb-run >/dev/null 2>&1 || skip "xvfb-run is not installed"
for exe in VZR_Toolset.exe VzrPack.exe toolset_smoke.exe vzrpack_smoke.exe; do
  found=$(find "$build" -name "$exe" -type f | head -n 1)
  [ -n "$found" ] || { echo "FAILED: $exe is not built in $build"; exit 1; }
  eval "path_$(echo "$exe" | tr -c 'A-Za-z0-9\n' '_')=\$found"
done
# The dialogs' in-process tests, where the build has GoogleTest for Windows.
unit_tests=$(find "$build" -name win32ui_tests.exe -type f | head -n 1)
dpi=${VZR_GUI_DPI:-96}
suffix=
[ "$dpi" = 96 ] || suffix=-${dpi}dpi
export WINEPREFIX="${VZR_WINEPREFIX:-$build/wineprefix$suffix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
shots=$build/screenshots
mkdir -p "$shots"
rm -f "$shots"/*$suffix.bmp

# One X server for the whole run: wine's own processes stay up between tests.
run=$(mktemp "${TMPDIR:-/tmp}/vzr-gui.XXXXXX")
trap 'rm -f "$run"' EXIT
cat >"$run" <<SCRIPT
wine cmd /c exit 0 >/dev/null 2>&1 || exit 77
wine reg add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d $dpi /f >/dev/null 2>&1
w() { winepath -w "\$1" 2>/dev/null; }
status=0
if [ -n "$unit_tests" ]; then wine "$unit_tests" || status=1; fi
wine "$path_toolset_smoke_exe" "\$(w "$path_VZR_Toolset_exe")" "\$(w "$shots/vzr-toolset-windows$suffix.bmp")" || status=1
wine "$path_vzrpack_smoke_exe" "\$(w "$path_VzrPack_exe")" "\$(w "$shots/vzrpack-windows$suffix.bmp")" || status=1
wineserver -k >/dev/null 2>&1
exit \$status
SCRIPT
xvfb-run -a -s "-screen 0 1280x1024x24" sh "$run"
status=$?
[ "$status" -eq 77 ] && skip "wine cannot start on the virtual display"
if [ "$status" -eq 1 ] && ! xvfb-run -a true >/dev/null 2>&1; then skip "Xvfb cannot start"; fi
for bmp in "$shots"/*.bmp; do
  [ -f "$bmp" ] || continue
  if command -v convert >/dev/null 2>&1; then convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"; fi
done
ls "$shots"
[ "$status" -eq 0 ] && echo "PASSED" || echo "FAILED"
exit "$status"
