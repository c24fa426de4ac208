#!/usr/bin/env bash
# Makes the small pictures that the picture-size tests measure, each with real
# encoders, so the tests see what those programs write. The outputs are kept
# in the repository; run this again only to change them. The size is part of
# each file's name: NAME-WIDTHxHEIGHT.EXT (for a rotated picture, the size it
# is shown at). Needs Debian's imagemagick, webp, libavif-bin and
# libheif-examples.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert  # ImageMagick's, not a stand-in earlier in PATH
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A source picture of the given size, with some colour and an alpha channel.
translucent() { "$convert" -size "$1" gradient:'#d33-#36c' -alpha set -channel A -evaluate set 80% +channel "$work/$1.png"; echo "$work/$1.png"; }
opaque() { "$convert" -size "$1" gradient:'#d33-#36c' "$work/o$1.png"; echo "$work/o$1.png"; }

rm -f ./*.png ./*.gif ./*.jpg ./*.webp ./*.avif ./*.heic ./*.svg ./*.bmp ./*.ico ./*.cur

"$convert" "$(opaque 29x11)" gif-29x11.gif
"$convert" "$(opaque 27x15)" -quality 60 jpeg-baseline-27x15.jpg
"$convert" "$(opaque 27x15)" -quality 60 -interlace JPEG jpeg-progressive-27x15.jpg

"$convert" "$(translucent 33x17)" png-rgba-33x17.png
"$convert" "$(opaque 300x2)" -colors 8 -interlace PNG png8-interlaced-300x2.png

cwebp -quiet -q 50 "$(opaque 41x23)" -o webp-lossy-41x23.webp
cwebp -quiet -q 50 "$(opaque 5000x3)" -o webp-lossy-wide-5000x3.webp
cwebp -quiet -lossless "$(opaque 43x29)" -o webp-lossless-43x29.webp
cwebp -quiet -lossless "$(opaque 3x9000)" -o webp-lossless-tall-3x9000.webp
cwebp -quiet -q 50 "$(translucent 45x21)" -o webp-alpha-45x21.webp
# Two frames: the canvas is what is shown.
img2webp -q 50 "$(opaque 47x31)" -d 100 "$(translucent 47x31)" -o webp-animated-47x31.webp

avifenc -j 1 -s 10 "$(opaque 37x19)" avif-37x19.avif >/dev/null
avifenc -j 1 -s 10 "$(translucent 35x13)" avif-alpha-35x13.avif >/dev/null
# Turned 90 and 270 degrees: shown 19 wide, 37 high.
avifenc -j 1 -s 10 --irot 1 "$(opaque 37x19)" avif-rotated90-19x37.avif >/dev/null
avifenc -j 1 -s 10 --irot 3 "$(opaque 37x19)" avif-rotated270-19x37.avif >/dev/null
avifenc -j 1 -s 10 --irot 2 "$(opaque 37x19)" avif-rotated180-37x19.avif >/dev/null
heif-enc -q 30 -o heic-64x48.heic "$(opaque 64x48)" >/dev/null
# With a thumbnail: a second picture whose extent must not be taken.
heif-enc -q 30 -t 16 -o heic-thumbnail-64x48.heic "$(opaque 64x48)" >/dev/null

"$convert" "$(opaque 31x13)" BMP3:bmp-v3-31x13.bmp
"$convert" "$(translucent 31x13)" BMP:bmp-v5-31x13.bmp
"$convert" "$(opaque 31x13)" BMP2:bmp-core-31x13.bmp

"$convert" "$(opaque 48x48)" -define icon:auto-resize=16,48,32 ico-48x48.ico
"$convert" "$(translucent 256x256)" -define icon:auto-resize=256,16 ico-256x256.ico
"$convert" "$(translucent 32x32)" CUR:cur-32x32.cur

# SVG: written by hand in each unit, as a converter writes it, and with a
# prolog and a prefixed root as editors may write it.
svg() {
  printf '<svg xmlns="http://www.w3.org/2000/svg" %s><rect width="1" height="1"/></svg>\n' "$2" >"$1"
}
svg svg-unitless-120x80.svg 'width="120" height="80"'
svg svg-px-120x80.svg 'width="120px" height="80px"'
svg svg-in-192x96.svg 'width="2in" height="1in"'
svg svg-cm-189x94.svg 'width="5cm" height="2.5cm"'
svg svg-mm-170x38.svg 'width="45mm" height="10mm"'
svg svg-pt-96x48.svg 'width="72pt" height="36pt"'
svg svg-pc-32x16.svg 'width="2pc" height="1pc"'
svg svg-viewbox-only-300x150.svg 'viewBox="0 0 300 150"'
svg svg-percent-viewbox-64x32.svg 'width="100%" height="100%" viewBox="-10 -10 64 32"'
svg svg-width-and-viewbox-200x100.svg 'width="200" viewBox="0,0,40,20"'
svg svg-no-size-none.svg ''
rsvg-convert -f svg svg-mm-170x38.svg >svg-by-converter-170x38.svg
cat >svg-prolog-prefixed-50x25.svg <<'SVG'
<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE svg PUBLIC "-//W3C//DTD SVG 1.1//EN" "http://www.w3.org/Graphics/SVG/1.1/DTD/svg11.dtd">
<!-- A drawing with a comment before the root element. -->
<svg:svg xmlns:svg="http://www.w3.org/2000/svg" width="50" height="25"><svg:g/></svg:svg>
SVG
