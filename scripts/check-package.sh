#!/usr/bin/env bash
# Builds the Debian package, installs it as a user would, checks the installed
# system (programs on the PATH, desktop entry, metadata, file type, man page)
# and removes the package again. Needs root (or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
# xdg-mime answers from the MIME database through mimetype (libfile-mimeinfo-perl);
# without it, it falls back to file(1), which knows nothing of .vzr.
tools=(desktop-file-utils appstream shared-mime-info xdg-utils libfile-mimeinfo-perl man-db)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

deb=$(scripts/package.sh | tail -1)
deb=$(realpath "$deb")
echo "== package: $deb"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "$deb" >/dev/null

work=$(mktemp -d)
removed=0
cleanup() {
  rm -rf "$work"
  ((removed)) || DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq vzr-tools >/dev/null || true
}
trap cleanup EXIT

passed=0
failed=0
check() {  # check NAME COMMAND...: runs the command, counts and names the outcome
  local name=$1
  shift
  if "$@" >"$work/out" 2>&1; then
    echo "PASS $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    sed 's/^/    /' "$work/out"
    failed=$((failed + 1))
  fi
}

# A window that is still up after two seconds has started; `timeout` ends it
# (exit 124) or it ended on its own (anything else: a failure).
stays_up() {
  local rc=0
  (cd "$work" && QT_QPA_PLATFORM=offscreen timeout 2 "$@") || rc=$?
  [ "$rc" -eq 124 ]
}
version_prints() { vzr --version | grep -q .; }
vzr_type() {
  printf 'VZR1' >"$work/sample.VZR"
  [ "$(xdg-mime query filetype "$work/sample.VZR")" = application/x-vzr-archive ]
}
files_of_package() { ! dpkg -L vzr-tools | grep -E '\.a$|_tests$|fuzz_|_bench$|/include/'; }
prefix=/usr/share

if [ -d cli ]; then
  check "vzr on the PATH: vzr --version" version_prints
fi
check "VZR_Toolset on the PATH stays up 2 s" stays_up VZR_Toolset
check "VZR_Toolset with an archive argument stays up 2 s" stays_up VZR_Toolset "$work/none.vzr"
check "VzrPack on the PATH stays up 2 s" stays_up VzrPack
check "desktop-file-validate" desktop-file-validate "$prefix/applications/org.vzrtools.Toolset.desktop"
check "appstreamcli validate --no-net" appstreamcli validate --no-net "$prefix/metainfo/org.vzrtools.Toolset.metainfo.xml"
update-mime-database "$prefix/mime"
check "xdg-mime: a .vzr file is application/x-vzr-archive" vzr_type
check "xdg-mime: VZR_Toolset opens it" bash -c '[ "$(xdg-mime query default application/x-vzr-archive)" = org.vzrtools.Toolset.desktop ]'
check "man -w vzr" man -w vzr
check "icons: every size of each icon" bash -c \
  'for s in 16 24 32 48 64 128 256; do for f in apps/vzr-toolset apps/vzrpack mimetypes/application-x-vzr-archive; do
     file -b "/usr/share/icons/hicolor/${s}x${s}/$f.png" | grep -q "$s x $s" || { echo "$s $f"; exit 1; }; done; done'
check "bash completion: verbs" bash -c \
  '[ -f /usr/share/bash-completion/completions/vzr ] && source /usr/share/bash-completion/completions/vzr && declare -F _vzr'
check "nothing of the build tree but the programs" files_of_package

DEBIAN_FRONTEND=noninteractive $SUDO apt-get remove -y -qq vzr-tools >/dev/null
removed=1
check "removed: no program left" bash -c '! command -v VZR_Toolset && ! command -v VzrPack && ! command -v vzr'
echo "package: $passed passed, $failed failed"
((failed == 0))
