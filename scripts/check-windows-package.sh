#!/usr/bin/env bash
# Checks the Windows setup as a user would meet it, under wine, headless, in a
# wine prefix made for the run: for a per-user and then a per-machine install
#   - the setup installs silently (/S, with /AddToPath);
#   - vzr.exe is in the folder Apps & Features names, and `vzr --version`
#     run from there prints this version;
#   - the .vzr file type, the Start menu folder and the PATH entry are there;
#   - the uninstaller, run silently as Apps & Features would, leaves none of
#     it behind.
#   check-windows-package.sh [SETUP.exe]   (default: the one in build-windows/)
# Exits 0 printing "skipped: ..." only where wine cannot start at all.
set -euo pipefail
cd "$(dirname "$0")/.."
setup=${1:-}
if [[ -z $setup ]]; then
  setup=$(find "${BUILD_DIR:-build-windows}" -maxdepth 1 -name 'vzr-tools-*-win64-setup.exe' 2>/dev/null | sort -V | tail -n1 || true)
fi
[[ -f $setup ]] || { echo "check-windows-package: no setup found (run scripts/package-windows.sh)" >&2; exit 1; }
setup=$(realpath "$setup")
version=$(basename "$setup" | sed -n 's/^vzr-tools-\(.*\)-win64-setup\.exe$/\1/p')

if ! command -v wine >/dev/null; then
  echo "skipped: wine is not installed"
  exit 0
fi

WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/vzr-setup-check.XXXXXX")
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY
# No desktop entries or file types of the host are touched (winemenubuilder
# off), no Mono or Gecko installs are offered.
export WINEPREFIX WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# One wine server for the whole run, started before anything else: each wine
# call below then takes a fraction of a second, not the seconds of a new start.
if ! wineserver -p || ! wineboot -i >/dev/null 2>&1; then
  echo "skipped: wine cannot start here (wineboot failed)"
  exit 0
fi
# Debian's wine says it is Windows 7 unless told otherwise; the setup wants 10.
wine reg add 'HKCU\Software\Wine' /v Version /d win10 /f >/dev/null

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# The value of a registry entry, or nothing when it is not there.
reg_value() {  # KEY NAME
  wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    sed -n "s/^ *$2 *REG_[A-Z_]* *//p" || true
}

reg_default() {  # KEY: its unnamed value
  wine reg query "$1" /ve 2>/dev/null | tr -d '\r' |
    sed -n 's/^ *([A-Za-z]*) *REG_[A-Z_]* *//p' || true
}

reg_key_exists() {  # KEY
  wine reg query "$1" >/dev/null 2>&1
}

unix_path() { winepath -u "$1" 2>/dev/null | tr -d '\r'; }

# The uninstaller runs a copy of itself from the temporary folder and returns
# at once: wait (30 s at most) until that copy has taken the folder away.
wait_until_gone() {  # UNIX_PATH
  local tries=0
  while [[ -e $1 ]] && ((tries++ < 60)); do sleep 0.5; done
}

check_mode() {  # CurrentUser|AllUsers ROOT_KEY
  local mode=$1 root=$2
  local uninstall_key="$root\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VzrTools"
  local classes="$root\\Software\\Classes"
  echo "-- $mode install"
  if ! wine "$setup" /S "/$mode" /AddToPath; then
    fail "$mode: the setup failed"
    return
  fi
  local folder
  folder=$(reg_value "$uninstall_key" InstallLocation)
  if [[ -z $folder ]]; then
    fail "$mode: no Apps & Features entry with an install location"
    return
  fi
  local unix_folder
  unix_folder=$(unix_path "$folder")
  echo "installed in $folder"
  [[ -f $unix_folder/vzr.exe ]] || fail "$mode: no vzr.exe in $folder"
  local shown
  shown=$( (cd "$unix_folder" && wine "$folder\\vzr.exe" --version 2>&1) | tr -d '\r')
  [[ $shown == "vzr $version" ]] || fail "$mode: vzr --version from $folder printed '$shown'"
  [[ $(reg_default "$classes\\.vzr") == VzrTools.Archive ]] || fail "$mode: .vzr is not registered"
  reg_key_exists "$classes\\VzrTools.Archive\\DefaultIcon" || fail "$mode: the .vzr type has no icon"
  local path_entry
  path_entry=$(reg_value 'HKCU\Environment' Path)
  [[ ";$path_entry;" == *";$folder;"* ]] || fail "$mode: $folder is not on the user's PATH ('$path_entry')"
  local start_menu
  if [[ $mode == AllUsers ]]; then
    start_menu=$(unix_path 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\VZR Tools')
  else
    start_menu=$(unix_path "$(wine cmd /c echo %APPDATA% | tr -d '\r')\\Microsoft\\Windows\\Start Menu\\Programs\\VZR Tools")
  fi
  [[ -f $start_menu/vzr\ command\ line.lnk ]] || fail "$mode: no Start menu entries in $start_menu"
  # The windows, where the setup carries them: their Start menu entries, and
  # VZR_Toolset opening .vzr files.
  local window
  for window in VZR_Toolset VzrPack; do
    [[ -f $unix_folder/$window.exe ]] || continue
    echo "with $window.exe"
    [[ -f $start_menu/$window.lnk ]] || fail "$mode: no Start menu entry for $window"
  done
  if [[ -f $unix_folder/VZR_Toolset.exe ]]; then
    [[ $(reg_default "$classes\\VzrTools.Archive\\shell\\open\\command") == "\"$folder\\VZR_Toolset.exe\" \"%1\"" ]] ||
      fail "$mode: .vzr files are not opened with VZR_Toolset"
  fi

  echo "-- $mode uninstall"
  local quiet
  quiet=$(reg_value "$uninstall_key" QuietUninstallString)
  [[ $quiet == *"/S"* ]] || fail "$mode: no silent uninstall command ('$quiet')"
  if ! wine "$folder\\uninstall.exe" "/$mode" /S; then
    fail "$mode: the uninstaller failed"
  fi
  wait_until_gone "$unix_folder"
  [[ ! -e $unix_folder ]] || fail "$mode: $folder is still there: $(find "$unix_folder" -mindepth 1 -printf '%P ')"
  [[ ! -e $start_menu ]] || fail "$mode: the Start menu folder is still there"
  ! reg_key_exists "$uninstall_key" || fail "$mode: still listed in Apps & Features"
  ! reg_key_exists "$classes\\VzrTools.Archive" || fail "$mode: the .vzr file type is still registered"
  ! reg_key_exists "$classes\\.vzr" || fail "$mode: the .vzr extension key is still there"
  path_entry=$(reg_value 'HKCU\Environment' Path)
  [[ ";$path_entry;" != *";$folder;"* ]] || fail "$mode: $folder is still on the user's PATH"
}

check_mode CurrentUser HKCU
check_mode AllUsers HKLM
if ((failures)); then
  echo "check-windows-package: $failures failure(s)" >&2
  exit 1
fi
echo "check-windows-package: $(basename "$setup") installs, runs and uninstalls cleanly"
