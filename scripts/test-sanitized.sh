#!/usr/bin/env bash
# Builds the whole tree with clang under AddressSanitizer (with LeakSanitizer)
# and UndefinedBehaviorSanitizer into build-asan/ (or $ASAN_BUILD_DIR), runs
# every test, and fails on any test failure or any sanitizer report, including
# reports from child processes that a test forked. The same build holds the
# fuzz targets (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ASAN_BUILD_DIR:-build-asan}
CC=${SANITIZE_CC:-clang} CXX=${SANITIZE_CXX:-clang++} \
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVZR_SANITIZE=ON -DVZR_FUZZ=ON -DVZR_BUILD_BENCH=OFF -DVZR_BUILD_GUI=ON "$@" >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"

# Every report goes to a file of its own, so that a report from a forked child
# or a death test is seen even when its exit status is not.
reports="$PWD/$BUILD_DIR/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
export ASAN_OPTIONS="detect_leaks=1:check_initialization_order=1:strict_init_order=1:log_path=$reports/asan"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:log_path=$reports/ubsan"
if [ -f scripts/lsan.supp ]; then
  export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
fi

status=0
(cd "$BUILD_DIR" && ctest --output-on-failure -j"$(nproc)") || status=$?
shopt -s nullglob
found=("$reports"/*)
if ((${#found[@]})); then
  echo "== ${#found[@]} sanitizer report(s):"
  for f in "${found[@]}"; do
    echo "---- $f"
    cat "$f"
  done
  status=1
else
  echo "== sanitizers: no reports"
fi
exit "$status"
