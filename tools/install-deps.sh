#!/usr/bin/env bash
# Installs the Debian packages the project needs. Idempotent: when every
# package is present it runs no apt-get at all.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-dev
  qt6-base-dev qt6-base-dev-tools qt6-image-formats-plugins libgl-dev
  libjpeg-dev libpng-dev libtiff-dev zlib1g-dev libicu-dev
  libgif-dev libwebp-dev libheif-dev libjxl-dev libraw-dev liblcms2-dev
  qt6-svg-dev libxcb1-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-utils xdotool openbox imagemagick fonts-dejavu-core
  dpkg-dev file desktop-file-utils appstream man-db
  shared-mime-info libglib2.0-bin libxml2-utils
  dbus at-spi2-core python3-pyatspi
  webp libheif-examples libavif-bin libjxl-tools gifsicle libraw-bin
  python3-pil colord-data lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
