#!/usr/bin/env bash
# Draws the program's icon (voxletter.png, 128x128, and scaled from it voxletter-48.png and voxletter-64.png
# for the desktop's smaller icon sizes) and the composer's background tile (tile.png, 128x128).
# The PNGs are committed; run this only to change them (needs ImageMagick).
set -euo pipefail
cd "$(dirname "$0")"

# Sound waves as short line pieces (this ImageMagick closes stroked open paths), one argument per line.
mapfile -t WAVES < <(awk 'BEGIN { for (r = 12; r <= 36; r += 12) for (a = -50; a < 50; a += 5) {
    x1 = 82 + r * cos(a * 3.14159 / 180); y1 = 65 + r * sin(a * 3.14159 / 180)
    x2 = 82 + r * cos((a + 5) * 3.14159 / 180); y2 = 65 + r * sin((a + 5) * 3.14159 / 180)
    printf "-draw\nline %.1f,%.1f %.1f,%.1f\n", x1, y1, x2, y2 } }')

# Icon: a letter on a blue round square, with sound waves coming out of it.
convert -size 128x128 xc:none \
  -fill '#2f6db5' -draw 'roundrectangle 4,4 123,123 22,22' \
  -fill '#3f86d8' -draw 'roundrectangle 4,4 123,70 22,22' -draw 'rectangle 4,40 123,70' \
  -fill '#2f6db5' -draw 'rectangle 4,64 123,72' \
  -fill white -stroke '#1d4f8a' -strokewidth 2 -draw 'roundrectangle 12,40 74,90 4,4' \
  -fill none -stroke '#1d4f8a' -strokewidth 3 -draw 'polyline 14,43 43,67 72,43' \
  -stroke '#ffd24a' -strokewidth 5 "${WAVES[@]}" \
  -depth 8 voxletter.png

# The icon at the desktop's smaller sizes, scaled down from the drawing (hicolor 48x48 and 64x64).
for size in 48 64; do
  convert voxletter.png -filter Lanczos -resize "${size}x${size}" -define png:exclude-chunks=date,time \
    -depth 8 "voxletter-$size.png"
done

# Tile: pale paper with faint waves and notes; what leaves one edge comes back in at the other, so the
# tile repeats seamlessly.
convert -size 128x128 xc:'#f3f6fb' \
  -fill none -stroke '#e1e8f3' -strokewidth 2 \
  -draw 'bezier 0,32 16,22 32,42 48,32' -draw 'bezier 48,32 64,22 80,42 96,32' -draw 'bezier 96,32 112,22 128,42 144,32' \
  -draw 'bezier -16,96 0,86 16,106 32,96' -draw 'bezier 32,96 48,86 64,106 80,96' -draw 'bezier 80,96 96,86 112,106 128,96' \
  -stroke '#dde5f1' -strokewidth 1 -fill '#e6ecf6' \
  -draw 'ellipse 84,70 5,4 0,360' -draw 'line 89,70 89,54' \
  -draw 'ellipse 22,64 4,3 0,360' -draw 'line 26,64 26,50' -draw 'line 26,50 33,53' \
  -define png:color-type=2 -depth 8 tile.png
