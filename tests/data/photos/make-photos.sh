#!/usr/bin/env bash
# Makes the reference photos of this folder with ImageMagick and exiftool:
# a small JFIF image, then Exif data with a capture time, a maker and a
# thumbnail written by exiftool (little-endian for the Canon photo,
# big-endian for the SONY one). tiny.jpg is the thumbnail and the image data
# of the built-*.jpg photos, which make-builder-photos.py lays out byte by
# byte (run last).
set -euo pipefail
cd "$(dirname "$0")"
convert -size 16x12 gradient:red-blue -strip -quality 40 tiny.jpg
make_photo() {  # name make byte-order date
  convert -size 64x48 gradient:yellow-green -quality 60 "$1"
  exiftool -q -overwrite_original -ExifByteOrder="$3" -Make="$2" -Model="$2 Test" \
    -DateTimeOriginal="$4" -XResolution=72 -YResolution=72 -ResolutionUnit=inches \
    '-ThumbnailImage<=tiny.jpg' "$1"
}
make_photo magick-canon.jpg Canon II "2008:06:07 09:05:03"
make_photo magick-sony.jpg SONY MM "2041:01:02 03:04:05"
make_photo magick-olympus.jpg "OLYMPUS IMAGING CORP." II "2008:06:07 09:05:03"
python3 make-builder-photos.py
