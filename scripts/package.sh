#!/usr/bin/env bash
# Builds the Debian package vzr-tools_VERSION_ARCH.deb into the build folder
# (build/, or $BUILD_DIR) and prints its path. Install it with
#   sudo apt-get install ./build/vzr-tools_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
BUILD_DIR=${BUILD_DIR:-build}
scripts/build.sh
(cd "$BUILD_DIR" && rm -f vzr-tools_*.deb && cpack -G DEB >/dev/null)
ls "$BUILD_DIR"/vzr-tools_*.deb
