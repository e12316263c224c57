#!/bin/sh
# Draws the format chooser's pictures: the three 20 x 20 category icons and the two
# 16 x 16 expand/collapse glyphs. Run from this folder after changing a design.
set -e
C="convert -size"

# 0: MPEG-4 video - a blue film frame with sprocket holes and a white play mark.
$C 20x20 xc:none \
  -fill '#2f6fc4' -stroke '#1b4d8f' -draw 'roundrectangle 1,3 18,16 2,2' \
  -stroke none -fill white \
  -draw 'rectangle 3,5 4,6' -draw 'rectangle 3,9 4,10' -draw 'rectangle 3,13 4,14' \
  -draw 'rectangle 15,5 16,6' -draw 'rectangle 15,9 16,10' -draw 'rectangle 15,13 16,14' \
  -draw 'polygon 8,6 8,13 13,9.5' \
  category0.png

# 1: general video - a green monitor with a stand.
$C 20x20 xc:none \
  -fill '#3f9a43' -stroke '#24692a' -draw 'roundrectangle 1,2 18,14 2,2' \
  -stroke none -fill '#d9f2da' -draw 'rectangle 3,4 16,12' \
  -fill '#3f9a43' -draw 'polygon 8,6 8,11 12,8.5' \
  -fill '#24692a' -draw 'rectangle 8,15 11,16' -draw 'rectangle 5,17 14,18' \
  category1.png

# 2: audio - an orange note pair.
$C 20x20 xc:none \
  -fill '#e07b1a' -stroke '#9c4f08' -strokewidth 1 \
  -draw 'ellipse 5,15 3,2.4 0,360' -draw 'ellipse 14,13 3,2.4 0,360' \
  -stroke none -fill '#9c4f08' \
  -draw 'rectangle 7,4 8,15' -draw 'rectangle 16,2 17,13' \
  -draw 'polygon 7,4 17,2 17,5 7,7' \
  category2.png

# Glyphs: a framed box with plus (collapsed) or minus (expanded).
$C 16x16 xc:none \
  -fill white -stroke '#7a9fda' -draw 'rectangle 3,3 12,12' \
  -stroke none -fill '#1b3f7a' -draw 'rectangle 5,7 10,8' -draw 'rectangle 7,5 8,10' \
  glyph_collapsed.png
$C 16x16 xc:none \
  -fill white -stroke '#7a9fda' -draw 'rectangle 3,3 12,12' \
  -stroke none -fill '#1b3f7a' -draw 'rectangle 5,7 10,8' \
  glyph_expanded.png
