#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need.
# Runs as root (or through sudo when it is available).
set -euo pipefail

PACKAGES=(
  cmake g++ make clang libclang-rt-14-dev
  zlib1g-dev libpng-dev libjpeg62-turbo-dev libexif-dev libdeflate-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  pkg-config libfreetype-dev libcairo2-dev fonts-dejavu-core
  libgtk-3-dev xvfb xdotool x11-apps x11-utils openbox
  ghostscript imagemagick
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get install -y --no-install-recommends "${missing[@]}"
