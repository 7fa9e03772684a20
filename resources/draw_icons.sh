#!/usr/bin/env bash
# Draws the program's two icons with ImageMagick: 101, the application (a blue tile holding a
# page), and 103, the document (a page with a folded corner and a blue heading bar). Run from
# this folder; the .ico files are committed, so the build does not need ImageMagick.
set -euo pipefail
sizes="16 20 24 32 40 48 64 256"

convert -size 256x256 xc:none \
    -fill '#0078D4' -draw 'roundrectangle 8,8 247,247 44,44' \
    -fill white -draw 'polygon 76,44 150,44 188,82 188,212 76,212' \
    -fill '#9CC8EE' -draw 'polygon 150,44 188,82 150,82' \
    -fill '#0078D4' -draw 'rectangle 96,102 168,116' \
    -fill '#5A9FD8' -draw 'rectangle 96,134 168,144' -draw 'rectangle 96,160 150,170' \
    -draw 'rectangle 96,186 160,196' \
    app-256.png

convert -size 256x256 xc:none \
    -fill white -stroke '#6A6A6A' -strokewidth 8 \
    -draw 'polygon 48,12 164,12 216,64 216,244 48,244' \
    -fill '#DADADA' -draw 'polygon 164,12 216,64 164,64' -stroke none \
    -fill '#0078D4' -draw 'rectangle 80,96 184,118' \
    -fill '#7A7A7A' -draw 'rectangle 80,144 184,156' -draw 'rectangle 80,176 160,188' \
    -draw 'rectangle 80,208 176,220' \
    document-256.png

for name in app document; do
    files=()
    for size in $sizes; do
        convert "$name-256.png" -resize "${size}x${size}" "$name-$size.png"
        files+=("$name-$size.png")
    done
    convert "${files[@]}" "$name.ico"
    rm -f "${files[@]}" "$name-256.png"
done
