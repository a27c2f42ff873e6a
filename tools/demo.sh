#!/usr/bin/env bash
# Shows the tool at work: streams about two seconds of the display and keeps
# one frame as a PNG, reads the text of that frame, takes a screenshot and
# records two seconds of sound. Uses the user's X server when DISPLAY reaches
# one, else a private Xvfb with a sample window that shows a line of text,
# which it stops at the end. With "wayland", a private headless Wayland
# session (sway) instead, the line of text on its background.
#   tools/demo.sh BUILD [wayland]
set -euo pipefail
build=$1
mode=${2:-}
tool=$build/src/pellix-capture
root=$(cd "$(dirname "$0")/.." && pwd)
out=${PELLIX_DEMO_OUT:-$PWD/demo-out}
mkdir -p "$out"

source "$root/tools/servers.sh"

# The sample's line of text, for the text recognition to read in the frame.
sample_text() {  # sample_text OUT.png
  convert -size 640x360 xc:'#3070c8' -fill white -draw 'rectangle 20,140 619,220' -fill black \
    -font DejaVu-Sans -pointsize 32 -annotate +40+193 'Pellix captured this window' -depth 8 "$1"
}

if [ "$mode" = wayland ]; then
  start_wayland_session 1280 720
  # A path, so that the sound demo's private runtime folder does not hide it.
  export WAYLAND_DISPLAY=$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY DISPLAY=
  rm -f "$out/window"; mkfifo "$out/window"; exec 3<>"$out/window"; rm -f "$out/window"
  "$build/tests/e2e/wayland-paint" 640 360 3070c8 pellix-demo <&3 >"$out/window.out" &
  started+=($!)
  for _ in $(seq 250); do grep -q ready "$out/window.out" 2>/dev/null && break; sleep 0.02; done
  rm -f "$out/window.out"
  swaymsg -q '[app_id="^pellix-demo$"] move absolute position 100 80'
  # The session's user reads the picture in the session's own folder.
  sample_text "$XDG_RUNTIME_DIR/sample.png"
  chmod 644 "$XDG_RUNTIME_DIR/sample.png"
  swaymsg -q "output HEADLESS-1 bg $XDG_RUNTIME_DIR/sample.png tile"
  sleep 0.5
  echo "private headless Wayland session (sway) with a sample window, a line of text on its background"
elif private_display 1280 720; then
  sample_text "$out/sample.png"
  display -geometry +100+80 -title demo-window "$out/sample.png" >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 100); do xwininfo -name demo-window >/dev/null 2>&1 && break; sleep 0.05; done
  sleep 0.3
  rm -f "$out/sample.png"
  echo "private X server $DISPLAY with a sample window showing a line of text"
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
"$root/tools/text_demo.sh" "$tool" $( [ -f "$out/frame.png" ] && echo "$out/frame.png") | sed 's/^/  /'

echo
echo "one screenshot:"
"$root/tools/shot_demo.sh" "$tool" "$out/shot.png" | sed 's/^/  /'
echo
echo "about two seconds of sound:"
"$root/tools/sound_demo.sh" "$tool" 2 | sed 's/^/  /'
