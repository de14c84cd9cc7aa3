#!/usr/bin/env bash
# Draws the window icon (resources/torvane.ico, icon 102) with ImageMagick:
# a blue tile with a white T over a plus and a minus sign, at 48, 32 and 16
# pixels. Only needed when the icon's design changes; the .ico is committed.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# Drawn at 256 pixels, then scaled down for each size.
convert -size 256x256 xc:none \
    -fill '#1f4e8c' -draw 'roundrectangle 8,8 247,247 36,36' \
    -fill '#ffffff' -draw 'rectangle 44,40 212,76' -draw 'rectangle 110,40 146,216' \
    -fill '#ffd34d' -draw 'rectangle 164,150 228,168' -draw 'rectangle 187,127 205,191' \
    -draw 'rectangle 28,150 92,168' \
    "$tmp/big.png"
for s in 48 32 16; do
    convert "$tmp/big.png" -resize ${s}x${s} "$tmp/icon$s.png"
done
convert "$tmp/icon48.png" "$tmp/icon32.png" "$tmp/icon16.png" resources/torvane.ico
echo "wrote resources/torvane.ico"
