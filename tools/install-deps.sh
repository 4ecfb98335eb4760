#!/usr/bin/env bash
# Installs what building, running and testing the editor need (Debian).
set -euo pipefail
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-liberation fonts-liberation2 fonts-dejavu-core fontconfig
)
if [ "${1:-}" = "--test" ]; then
  PACKAGES+=(libbenchmark-dev xvfb xdotool x11-utils x11-xkb-utils libx11-dev libxtst-dev openbox util-linux findutils)
fi
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
