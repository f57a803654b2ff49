#!/usr/bin/env bash
# The Windows stage of CI: cross-builds the Windows programs and suites
# (scripts/build-windows.sh), runs the suites under wine through CTest,
# packages the setup and the zip, and checks the setup under wine.
set -euo pipefail
cd "$(dirname "$0")/.."
export BUILD_DIR=${BUILD_DIR:-build-windows}
# As in the Linux stage, a warning fails the build CI ships.
scripts/build-windows.sh -DVZR_WERROR=ON
if [[ -n $(cd "$BUILD_DIR" && ctest -N | sed -n 's/^Total Tests: *//p' | grep -v '^0$') ]]; then
  (cd "$BUILD_DIR" && ctest --output-on-failure -j"$(nproc)")
else
  echo "test-windows: the Windows build has no tests yet"
fi
scripts/package-windows.sh
scripts/check-windows-package.sh
