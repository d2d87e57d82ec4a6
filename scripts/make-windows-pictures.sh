#!/usr/bin/env bash
# Writes the Windows program's toolbar strip and icon from the scalable pictures that the Qt
# program uses, so both show the same drawings. Needs the Linux build's vandrel-render-icon and
# ImageMagick; run it after a picture changed and commit its output.
set -euo pipefail
cd "$(dirname "$0")/.."
render=${1:-build/bin/vandrel-render-icon}
pictures=src/shell/resources
out=src/shell/win32
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

export QT_QPA_PLATFORM=offscreen
strip=()
# Button order of the toolbar: new, open, save, connect, copy, settings, about.
for name in new open save connect copy settings about; do
    "$render" "$pictures/toolbar/$name.svg" 16 "$work/$name.png"
    # 16 x 15 on the toolbar's light grey, which the toolbar shows as the button face.
    convert "$work/$name.png" -background '#c0c0c0' -flatten -gravity center -crop 16x15+0+0 +repage \
        "$work/$name-15.png"
    strip+=("$work/$name-15.png")
done
convert "${strip[@]}" +append -colors 16 -type Palette -compress None BMP3:"$out/Toolbar.bmp"

# Each icon picture in 16 colours with its transparency mask: the mask is the picture's coverage
# cut at one half; only the covered pixels are reduced to 15 colours, and the masked ones are
# black, so that Windows shows the screen through them unchanged.
icons=()
for size in 32 16; do
    "$render" "$pictures/icons/org.vandrel.VandrelViewer.svg" "$size" "$work/icon-$size.png"
    convert "$work/icon-$size.png" \( +clone -alpha extract -threshold 50% \) \
        \( -clone 0 -background black -alpha remove -alpha off -colors 15 \) -delete 0 +swap \
        -alpha off -compose CopyOpacity -composite -background black -alpha background \
        "$work/icon-$size-masked.png"
    icons+=("$work/icon-$size-masked.png")
done
convert "${icons[@]}" -type PaletteAlpha "$out/VandrelViewer.ico"
