#!/usr/bin/env bash
# Renders the program's icon, data/icons/hicolor/scalable/apps/<id>.svg (drawn
# by hand), into the PNG sizes of the hicolor theme beside it. The 64-pixel one
# is also compiled into the program for the window, the tray and the
# information panel. Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"
id=internal.snapix.Snapix

for size in 16 32 48 64 128 256; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "scalable/apps/$id.svg" \
    --output "${size}x${size}/apps/$id.png"
done
