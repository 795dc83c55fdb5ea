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
  # Qt's own dialog texts in Chinese
  qt6-translations-l10n
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

# The PNG $1 written to $2 without its chunk of type $3, every other byte as it was
# (each chunk carries its own checksum, so the rest stays valid).
png_without_chunk() {
  local in="$1" out="$2" drop="$3" size offset=8 length type
  size=$(stat -c %s "$in")
  while [ $((offset + 8)) -le "$size" ]; do
    length=$(od -An -tu4 --endian=big -j "$offset" -N4 "$in" | tr -d ' ')
    type=$(dd if="$in" bs=1 skip=$((offset + 4)) count=4 status=none)
    if [ "$type" = "$drop" ]; then
      head -c "$offset" "$in" >"$out"
      tail -c +$((offset + length + 13)) "$in" >>"$out"
      return 0
    fi
    offset=$((offset + length + 12))
  done
  cp "$in" "$out"
}

# The identity-photo tests need a real face: the portrait a Debian package ships,
# taken out of its package without installing the package (or Python). It is stored
# without its colour profile (iCCP), an sRGB profile libpng knows to be faulty and
# warns about on every load; the pixels are the package's own.
portrait="$(cd "$(dirname "$0")/.." && pwd)/.testdata/astronaut.png"
packaged_sha256=88431cd9653ccd539741b555fb0a46b61558b301d4110412b5bc28b5e3ea6cb5
portrait_sha256=aaff0584d03ff426bc5f527f92f2b85abbd9f4108e84831dbf045831db058dd7
if ! echo "$portrait_sha256  $portrait" | sha256sum -c --status 2>/dev/null; then
  work="$(mktemp -d)"
  trap 'rm -rf "$work"' EXIT
  chmod 755 "$work"
  echo "Fetching the test portrait (python3-skimage, data only)"
  (cd "$work" && apt-get download -qq python3-skimage 2>/dev/null ||
    { $sudo apt-get update -qq && apt-get download -qq python3-skimage; })
  dpkg -x "$work"/python3-skimage_*.deb "$work/root"
  packaged="$work/root/usr/lib/python3/dist-packages/skimage/data/astronaut.png"
  echo "$packaged_sha256  $packaged" | sha256sum -c --status ||
    { echo "setup.sh: astronaut.png from python3-skimage is not the expected picture" >&2; exit 1; }
  png_without_chunk "$packaged" "$work/astronaut.png" iCCP
  echo "$portrait_sha256  $work/astronaut.png" | sha256sum -c --status ||
    { echo "setup.sh: astronaut.png without its colour profile is not the expected file" >&2; exit 1; }
  mkdir -p "$(dirname "$portrait")"
  mv "$work/astronaut.png" "$portrait"
fi
