#!/usr/bin/env bash
# Shows the tool at work: streams about two seconds of the display and keeps
# one frame as a PNG. Uses the user's X server when DISPLAY reaches one, else a
# private Xvfb with a sample window, which it stops at the end.
set -euo pipefail
build=$1
tool=$build/src/pellix-capture
root=$(cd "$(dirname "$0")/.." && pwd)
out=${PELLIX_DEMO_OUT:-$PWD/demo-out}
mkdir -p "$out"

started=()
cleanup() { for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
trap 'exit 130' INT TERM  # so that the EXIT trap stops the servers too

source "$root/tools/display.sh"
if private_display 1280 720; then
  # The window lives as long as its standard input, which this script holds.
  rm -f "$out/window"; mkfifo "$out/window"; exec 3<>"$out/window"; rm -f "$out/window"
  "$build/tests/e2e/paint-window" 100 80 640 360 3070c8 demo-window <&3 >/dev/null &
  started+=($!)
  sleep 0.3
  echo "private X server $DISPLAY with a sample window"
else
  echo "X server $DISPLAY"
fi

size=$(xdpyinfo | awk '/dimensions:/ && !seen {print $2; seen = 1}')
width=${size%x*}
height=${size#*x}
frame=$((width * height * 4))

echo "streaming ${width}x${height} at 30 frames a second for about 2 s"
errors=$out/stream.err
{
  "$tool" --verbose --fps 30 2>"$errors" &
  tool_pid=$!
  (sleep 2; kill -TERM $tool_pid 2>/dev/null) &
  wait $tool_pid || true
} | {
  head -c "$frame" >"$out/frame.bgra"
  rest=$(wc -c)
  echo $(( (rest + frame) ))  >"$out/bytes"
}
bytes=$(cat "$out/bytes")
sed 's/^/  /' "$errors"
frames=$((bytes / frame))
echo "received $frames frames ($bytes bytes), about $((frames / 2)) frames a second"
if [ "$frames" -gt 0 ]; then
  "$build/tools/frame-to-png" "$width" "$height" "$out/frame.png" <"$out/frame.bgra"
  echo "one frame: $out/frame.png"
fi
rm -f "$out/frame.bgra" "$out/bytes"

echo
echo "text recognition on a rendered image$( [ -f "$out/frame.png" ] && echo " and on that frame"):"
"$root/bench/text_demo.sh" "$tool" $( [ -f "$out/frame.png" ] && echo "$out/frame.png") | sed 's/^/  /'

echo
echo "one screenshot:"
"$root/bench/shot_demo.sh" "$tool" "$out/shot.png" | sed 's/^/  /'
echo
echo "about two seconds of sound:"
"$root/bench/sound_demo.sh" "$tool" 2 | sed 's/^/  /'
