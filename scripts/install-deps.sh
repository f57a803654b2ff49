#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those missing.
set -euo pipefail
packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  liblzo2-dev                      # a real LZO1X compressor, for tests and benchmarks only
  libre2-dev                       # the regular expressions of vzr grep
  libfuse3-dev fuse3               # vzr mount
  qt6-base-dev fonts-dejavu-core   # the two windows
  qt6-svg-dev                      # the scalable desktop icons
  dpkg-dev file                    # the Debian package (cpack -G DEB)
  python3-minimal                  # the check of the include rooms (scripts/check-includes.py)
  clang libclang-rt-14-dev         # fuzzing and the sanitizer build
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
