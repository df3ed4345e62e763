#!/usr/bin/env bash
# Draws the agent's 32 x 32 icon (a diary page with a bell) with ImageMagick:
# ./make-icon.sh writes zurodid-agent.png beside this script.
set -euo pipefail
cd "$(dirname "$0")"
convert -size 32x32 xc:none \
    -fill '#f4f1e8' -stroke '#5a4632' -strokewidth 1 -draw 'roundrectangle 3,4 26,29 3,3' \
    -fill '#b8322a' -stroke '#5a4632' -draw 'roundrectangle 3,4 26,11 3,3' \
    -stroke none -fill '#5a4632' -draw 'rectangle 8,2 9,7' -draw 'rectangle 20,2 21,7' \
    -stroke '#9c8f7a' -strokewidth 1 -draw 'line 7,16 22,16' -draw 'line 7,20 18,20' \
    -draw 'line 7,24 15,24' \
    -stroke '#6b4a00' -fill '#f2b705' -draw 'path "M 23,15 C 19,15 19,19 19,23 L 17,26 L 29,26 L 27,23 C 27,19 27,15 23,15 Z"' \
    -stroke none -fill '#6b4a00' -draw 'circle 23,28 23,29.5' \
    -depth 8 -define png:color-type=6 zurodid-agent.png
