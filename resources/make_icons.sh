#!/usr/bin/env bash
# Draws Quarn's two icons: quarn_big.gif (104 x 34, logo and name) and quarn_mini.gif (16 x 16).
# The GIFs are committed; run this only to change the drawing (needs ImageMagick).
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert
font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf

# Logo: a converter box with radio waves on its right, then the name.
"$convert" -size 104x34 xc:'#f4f6fa' \
  -fill '#1f4e8c' -stroke '#12305a' -strokewidth 1 -draw 'roundrectangle 3,7 25,27 3,3' \
  -fill '#ffffff' -stroke none -draw 'rectangle 7,12 21,14' -draw 'rectangle 7,17 21,19' -draw 'rectangle 7,22 16,24' \
  -fill none -stroke '#e07b00' -strokewidth 2 \
  -draw 'arc 22,11 34,23 -60,60' -draw 'arc 24,7 40,27 -60,60' \
  -stroke none -fill '#1f4e8c' -font "$font" -pointsize 17 -annotate +40+23 'Quarn' \
  -colors 32 quarn_big.gif

"$convert" -size 16x16 xc:'#1f4e8c' \
  -fill '#ffffff' -draw 'rectangle 1,4 7,5' -draw 'rectangle 1,7 7,8' -draw 'rectangle 1,10 5,11' \
  -fill none -stroke '#ffb020' -strokewidth 1 -draw 'arc 7,5 12,11 -70,70' -draw 'arc 8,3 14,13 -70,70' \
  -colors 16 quarn_mini.gif
