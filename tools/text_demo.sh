#!/bin/sh
# Shows the ocr service at work: renders a few lines of text, then asks
# `pellix-capture ocr` to read that image and any further images given (a
# captured frame, say), printing every answer line as the service writes it.
#
# usage: tools/text_demo.sh path/to/pellix-capture [image.png ...]
set -eu
binary=${1:?usage: text_demo.sh path/to/pellix-capture [image.png ...]}
shift
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

rendered=$folder/rendered.png
convert -size 760x170 xc:white -font DejaVu-Sans -pointsize 30 -fill black \
  -annotate +24+60 'Pellix reads text: Total 42' \
  -annotate +24+120 'Boxes are pixels from the top left.' "$rendered"

request() { printf '{"path":"%s"}\n' "$(printf '%s' "$1" | sed 's/[\\"]/\\&/g')"; }
{
  request "$rendered"
  for image in "$@"; do request "$image"; done
} | "$binary" ocr
