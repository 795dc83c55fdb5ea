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
  # identity photos: face and eye cascades
  libopencv-objdetect-dev opencv-data
  # tests and benchmarks (exiv2 reads back the EXIF blocks we write)
  libgtest-dev libbenchmark-dev xvfb xauth exiv2
  # installing and packaging: the Debian package and its checks
  dpkg-dev file lintian desktop-file-utils appstream pngcheck librsvg2-bin
  # djpeg -strict: the loader's tests compare their verdicts with libjpeg's own reader
  libjpeg-turbo-progs
  # other V4L2 programs run on the virtual camera (libsnapix-vcam.so): the drivers'
  # checker v4l2-compliance and v4l2-ctl, and the peers ffmpeg (with ffplay) and fswebcam
  v4l-utils ffmpeg fswebcam
  # fonts for the Chinese interface and the photo captions
  fontconfig fonts-arphic-uming fonts-dejavu-core fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi

if [ ${#missing[@]} -ne 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The identity-photo tests need a real face: the portrait a Debian package ships,
# taken out of its package without installing the package (or Python).
portrait="$(cd "$(dirname "$0")/.." && pwd)/.testdata/astronaut.png"
portrait_sha256=88431cd9653ccd539741b555fb0a46b61558b301d4110412b5bc28b5e3ea6cb5
if ! echo "$portrait_sha256  $portrait" | sha256sum -c --status 2>/dev/null; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  chmod 755 "$work"
  echo "Fetching the test portrait (python3-skimage, data only)"
  (cd "$work" && apt-get download -qq python3-skimage 2>/dev/null ||
    { $sudo apt-get update -qq && apt-get download -qq python3-skimage; })
  dpkg -x "$work"/python3-skimage_*.deb "$work/root"
  mkdir -p "$(dirname "$portrait")"
  cp "$work/root/usr/lib/python3/dist-packages/skimage/data/astronaut.png" "$portrait"
  echo "$portrait_sha256  $portrait" | sha256sum -c --status ||
    { echo "setup.sh: astronaut.png from python3-skimage is not the expected picture" >&2; exit 1; }
fi
