#!/usr/bin/env bash
# Draws the program's icon with ImageMagick: a blue tile with a white T over a
# plus and a minus sign. Writes the window icon (resources/torvane.ico, icon
# 102) at 48, 32 and 16 pixels, and the desktop's icons in the hicolor theme
# (packaging/icons/hicolor) as PNG at 16 to 256 pixels and as SVG. Only needed
# when the icon's design changes; its output is committed.
set -euo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
name=org.example.Torvane
hicolor=packaging/icons/hicolor

# The shapes on a 256-pixel square, by colour: the corners x0,y0 x1,y1 of
# each rectangle (both corners inside it); the tile has rounded corners.
tile=(8 8 247 247 36)
white=('44 40 212 76' '110 40 146 216')
yellow=('164 150 228 168' '187 127 205 191' '28 150 92 168')

draw=(-fill '#1f4e8c' -draw "roundrectangle ${tile[0]},${tile[1]} ${tile[2]},${tile[3]} ${tile[4]},${tile[4]}")
svg_rect() {  # colour x0 y0 x1 y1 [radius]
    local radius=${6:+ rx=\"$6\"}
    echo "  <rect x=\"$2\" y=\"$3\" width=\"$(($4 - $2 + 1))\" height=\"$(($5 - $3 + 1))\"$radius fill=\"$1\"/>"
}
svg=$(svg_rect '#1f4e8c' "${tile[@]}")
for r in "${white[@]}"; do
    set -- $r
    draw+=(-fill '#ffffff' -draw "rectangle $1,$2 $3,$4")
    svg+=$'\n'$(svg_rect '#ffffff' "$@")
done
for r in "${yellow[@]}"; do
    set -- $r
    draw+=(-fill '#ffd34d' -draw "rectangle $1,$2 $3,$4")
    svg+=$'\n'$(svg_rect '#ffd34d' "$@")
done

# Drawn at 256 pixels, then scaled down for each size.
convert -size 256x256 xc:none "${draw[@]}" "$tmp/big.png"
for s in 256 128 64 48 32 16; do
    mkdir -p "$hicolor/${s}x${s}/apps"
    convert "$tmp/big.png" -resize ${s}x${s} -strip "$hicolor/${s}x${s}/apps/$name.png"
done
convert "$hicolor/48x48/apps/$name.png" "$hicolor/32x32/apps/$name.png" "$hicolor/16x16/apps/$name.png" \
    resources/torvane.ico
mkdir -p "$hicolor/scalable/apps"
cat >"$hicolor/scalable/apps/$name.svg" <<SVG
<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
$svg
</svg>
SVG
echo "wrote resources/torvane.ico and the icons under $hicolor"
