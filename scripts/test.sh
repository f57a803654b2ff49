#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build,
# then the whole suite again under the address, leak and undefined-behaviour
# sanitizers, then a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
started=$SECONDS
# The build the packages ship, and no warning in it.
scripts/build.sh -DVZR_WERROR=ON
(cd build && ctest --output-on-failure -j"$(nproc)")
echo "== normal build and tests: $((SECONDS - started)) s"

started=$SECONDS
scripts/test-sanitized.sh
echo "== sanitized build and tests: $((SECONDS - started)) s"

# About a minute in all: enough to catch a regression in the readers, not a
# hunt (scripts/fuzz.sh without --smoke runs as long as asked).
started=$SECONDS
scripts/fuzz.sh --smoke
echo "== fuzz smoke: $((SECONDS - started)) s"

# The Windows programs, cross-built with mingw-w64, their suites under wine,
# and the setup installed and removed again under wine.
started=$SECONDS
scripts/test-windows.sh
echo "== windows build and tests: $((SECONDS - started)) s"
