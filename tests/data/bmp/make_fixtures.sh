#!/bin/bash
# Writes the BMP fixtures that other tools produce, from one 7x5 picture whose
# pixel (x, y) (y = 0 at the top) is red 40x+10, green 60y+5, blue 9xy.
# Needs ImageMagick (convert) and Debian python3-pil (hence /usr/bin/python3).
# Run from anywhere; writes next to itself.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

{
    echo "P3 7 5 255"
    for y in 0 1 2 3 4; do
        for x in 0 1 2 3 4 5 6; do echo "$((40 * x + 10)) $((60 * y + 5)) $((9 * x * y))"; done
    done
} > "$tmp/picture.ppm"

# ImageMagick: its default BMP4 header (108 or 124 bytes), the classic
# 40-byte header, a 32-bit picture with alpha, and an 8-bit palette picture (35 colours).
convert "$tmp/picture.ppm" -type TrueColor magick_24bit_v4header.bmp
convert "$tmp/picture.ppm" -type TrueColor BMP3:magick_24bit.bmp
convert "$tmp/picture.ppm" -alpha set -channel A -evaluate set 50% +channel -type TrueColorAlpha magick_32bit.bmp
convert "$tmp/picture.ppm" -type Palette -compress None BMP3:magick_8bit_palette.bmp
# ImageMagick compresses palette pictures with RLE8 by default, which we refuse.
convert "$tmp/picture.ppm" -type Palette BMP3:magick_8bit_rle.bmp
# Few colours: ImageMagick picks 4 bits per pixel, a depth we refuse.
convert "$tmp/picture.ppm" -colors 8 -type Palette BMP3:magick_4bit_palette.bmp

/usr/bin/python3 - "$tmp/picture.ppm" <<'PY'
import sys
from PIL import Image
rgb = Image.open(sys.argv[1]).convert("RGB")
rgb.save("pil_24bit.bmp")
rgb.quantize(colors=256, method=Image.Quantize.MEDIANCUT).save("pil_8bit_palette.bmp")
rgba = rgb.copy()
rgba.putalpha(128)
rgba.save("pil_32bit.bmp")
PY
