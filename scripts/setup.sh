#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Snapix need.
# Idempotent: packages already present are skipped, and apt is only asked when
# something is missing.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config make
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev qt6-qpa-plugins
  libv4l-dev libjpeg62-turbo-dev libyuv-dev libexif-dev
  # tests and benchmarks (exiv2 reads back the EXIF blocks we write)
  libgtest-dev libbenchmark-dev xvfb xauth exiv2
  # installing and packaging: the Debian package and its checks
  dpkg-dev file lintian desktop-file-utils appstream pngcheck librsvg2-bin
  # djpeg -strict: the loader's tests compare their verdicts with libjpeg's own reader
  libjpeg-turbo-progs
  # fonts for the Chinese interface and the photo captions
  fontconfig fonts-arphic-uming fonts-dejavu-core fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
