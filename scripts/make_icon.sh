#!/usr/bin/env bash
# Writes resources/snapix.png, the program's 64-pixel icon for the window and
# the tray: a camera body with a lens and a flash window.
set -euo pipefail
cd "$(dirname "$0")/../resources"

convert -size 64x64 xc:none \
  -fill '#2f6fb3' -draw 'roundrectangle 4,16 59,55 7,7' \
  -draw 'polygon 21,16 26,8 38,8 43,16' \
  -fill '#f2c14e' -draw 'roundrectangle 9,20 16,24 1,1' \
  -fill '#e8eef5' -draw 'circle 32,36 32,21' \
  -fill '#1d3557' -draw 'circle 32,36 32,25' \
  -fill '#457b9d' -draw 'circle 32,36 32,30' \
  -fill '#ffffff' -draw 'circle 28,32 28,29.5' \
  -strip PNG32:snapix.png
