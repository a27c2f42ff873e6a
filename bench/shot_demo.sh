#!/usr/bin/env bash
# Takes one screenshot of the main display with pellix-capture and prints its
# answer line ({"width":…,"height":…,"scale":…}).
#
#   bench/shot_demo.sh <pellix-capture binary> <out.png>
#
# Uses the X server in $DISPLAY when it answers; otherwise a private Xvfb with
# a sample window from ImageMagick, which it stops at the end. Exits with the
# tool's status.
set -euo pipefail
tool=$(realpath "$1")
out=$2

started=()
cleanup() { for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
trap 'exit 130' INT TERM  # so that the EXIT trap stops the servers too

source "$(dirname "$0")/../tools/display.sh"
if private_display 1280 720; then
  display -geometry +120+90 -title "pellix-capture" "logo:" >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 100); do xwininfo -name "pellix-capture" >/dev/null 2>&1 && break; sleep 0.05; done
  sleep 0.3
fi

"$tool" shot --out "$out"
