#!/usr/bin/env bash
# Takes one screenshot of the main display with pellix-capture and prints its
# answer line ({"width":…,"height":…,"scale":…}).
#
#   tools/shot_demo.sh <pellix-capture binary> <out.png>
#
# Uses the display server in the environment when one answers; otherwise a
# private Xvfb with a sample window from ImageMagick, which it stops at the
# end. Exits with the tool's status.
set -euo pipefail
tool=$(realpath "$1")
out=$2

source "$(dirname "$0")/servers.sh"
if private_display 1280 720; then
  display -geometry +120+90 -title "pellix-capture" "logo:" >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 100); do xwininfo -name "pellix-capture" >/dev/null 2>&1 && break; sleep 0.05; done
  sleep 0.3
fi

"$tool" shot --out "$out"
