#!/usr/bin/env bash
# Regenerates the window's pictures with ImageMagick (apt-get install imagemagick).
# The generated files are committed; the build does not run this script.
set -euo pipefail
cd "$(dirname "$0")"
font=/usr/share/fonts/truetype/liberation/LiberationSans-Bold.ttf

# Background: 475 x 398 JPEG, stretched over the window below the headings.
convert -size 475x398 gradient:'#2b4a6f'-'#9fb7cf' \
    \( -size 475x398 xc:none -stroke '#ffffff22' -strokewidth 1 \
       -draw "line 0,40 475,40" -draw "line 0,120 475,120" -draw "line 0,200 475,200" \
       -draw "line 0,280 475,280" -draw "line 0,360 475,360" \) -composite \
    -quality 90 background.jpg

# Logo: 200 x 37 GIF, shown at its own size.
convert -size 200x37 xc:'#1d3557' -font "$font" -pointsize 20 -fill '#f1faee' \
    -gravity center -annotate +0+0 'Orvane Quillon' logo.gif

# Icon: 16 x 16, 24-bit colour (no alpha channel).
convert -size 16x16 xc:'#1d3557' -fill '#e63946' -draw 'rectangle 3,3 12,12' \
    -fill '#f1faee' -draw 'rectangle 6,6 9,9' -alpha off PNG24:icon.png

# The icon in the sizes that desktops look for, for installing.
mkdir -p icons
for size in 16 32 48 64 128 256; do
    convert icon.png -filter point -resize "${size}x${size}" -alpha off "PNG24:icons/orvane-quillon-${size}.png"
done
