#!/usr/bin/env bash
# Installs what is missing, builds, and starts VZR_Toolset.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: set DISPLAY (or run under xvfb-run) to see the window." >&2
fi
exec build/toolset/VZR_Toolset
