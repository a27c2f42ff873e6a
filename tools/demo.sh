#!/usr/bin/env bash
# Shows the tool at work: streams about two seconds of the display and keeps
# one frame as a PNG, reads the text of that frame, takes a screenshot and
# records two seconds of sound. Uses the user's X server when DISPLAY reaches
# one, else a private Xvfb with a sample window, which it stops at the end.
# With "wayland", a private headless Wayland session (sway) instead.
#   tools/demo.sh BUILD [wayland]
set -euo pipefail
build=$1
mode=${2:-}
tool=$build/src/pellix-capture
root=$(cd "$(dirname "$0")/.." && pwd)
out=${PELLIX_DEMO_OUT:-$PWD/demo-out}
mkdir -p "$out"

started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  [ "$mode" != wayland ] || stop_wayland_session
}
trap cleanup EXIT
trap 'exit 130' INT TERM  # so that the EXIT trap stops the servers too

source "$root/tools/display.sh"
if [ "$mode" = wayland ]; then
  source "$root/tools/wayland_session.sh"
  start_wayland_session 1280 720
  # A path, so that the sound demo's private runtime folder does not hide it.
  export WAYLAND_DISPLAY=$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY DISPLAY=
  rm -f "$out/window"; mkfifo "$out/window"; exec 3<>"$out/window"; rm -f "$out/window"
  "$build/tests/e2e/wayland-paint" 640 360 3070c8 pellix-demo <&3 >"$out/window.out" &
  started+=($!)
  for _ in $(seq 250); do grep -q ready "$out/window.out" 2>/dev/null && break; sleep 0.02; done
  rm -f "$out/window.out"
  swaymsg -q '[app_id="^pellix-demo$"] move absolute position 100 80'
  sleep 0.3
  echo "private headless Wayland session (sway) with a sample window"
elif private_display 1280 720; then
  # The window lives as long as its standard input, which this script holds.
  rm -f "$out/window"; mkfifo "$out/window"; exec 3<>"$out/window"; rm -f "$out/window"
  "$build/tests/e2e/paint-window" 100 80 640 360 3070c8 demo-window <&3 >/dev/null &
  started+=($!)
  sleep 0.3
  echo "private X server $DISPLAY with a sample window"
elif [ -n "${DISPLAY:-}" ]; then
  echo "X server $DISPLAY"
else
  echo "Wayland compositor $WAYLAND_DISPLAY"
fi

# The main display's size in pixels, as the tool lists it.
size=$("$tool" list | python3 -c 'import json, sys
d = next(d for d in json.load(sys.stdin)["displays"] if d["main"])
print("%dx%d" % (round(d["width"] * d["scale"]), round(d["height"] * d["scale"])))')
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
