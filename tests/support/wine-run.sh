#!/bin/sh
# wine-run.sh PROGRAM [ARGS...] - runs a cross-built Windows program under
# wine with nothing of the machine's desktop in it: no display, no wine
# chatter on standard error, and a wine prefix of its own that is made for
# this run and removed after it, so one test program cannot see what the
# last one left behind. CTest calls it as the cross build's emulator, once
# per test program (booting a prefix costs seconds, a test case should not).
set -u
prefix=$(mktemp -d "${TMPDIR:-/tmp}/vzr-wine.XXXXXX") || exit 125
cleanup() {
  # wineserver outlives the program for a few seconds: end it first, so
  # the prefix it serves can go.
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null
  rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
# Boot the prefix before the program starts, so the first test's timing does
# not carry the boot; wineboot's own noise goes nowhere.
wineboot -i >/dev/null 2>&1
wine "$@"
status=$?
exit $status
