#!/usr/bin/env bash
# The video job through the screencast portal and PipeWire on a private
# headless sway (1280x720) serving the portal, against a bare PipeWire
# consumer of the same kind of stream (tools/portal_loop.cc), in one run.
#   bench/portal.sh [build-dir] [seconds]
# Prints:
# - per case, the CPU seconds per 10 s of the capturer and what capturing adds
#   to the session's own cost of the scene (sway, the portal and its backend,
#   PipeWire, WirePlumber, D-Bus), their total, the frames a second that
#   reached the reader (`cat > /dev/null`) and the reader's CPU (not part of
#   the total); the scene is a window of 1280x720 repainted 30 times a second;
# - the wall time from the tool's start to its first frame on a still screen,
#   median of 10: with the portal's stream matched to its output (the first
#   frame is a screencopy copy) and unmatched (two outputs of one size: the
#   portal's own first frame);
# - the wall time of a screenshot with the portal asked for, median of 10.
# The capturers run as the session's user; the portal keeps its choice, so
# no chooser runs after the first.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/process.sh
build=${1:-build}
seconds=${2:-10}
tool=$(realpath "$build/src/pellix-capture")
loop=$(realpath "$build/tools/portal-loop")
painter=$(realpath "$build/tests/e2e/wayland-paint")
export PELLIX_PORTAL_BACKEND
PELLIX_PORTAL_BACKEND=$(tools/portal/build_backend.sh "$(realpath "$build")/portal-wlr")
work=$(mktemp -d /tmp/pellix-portal-bench.XXXXXX)
chmod 755 "$work"

source tools/wayland_session.sh
started=()
cleanup() {
  for p in "${started[@]}"; do kill "$p" 2>/dev/null || true; done
  wait "${started[@]}" 2>/dev/null || true
  stop_wayland_session
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM  # so that the EXIT trap stops the session too

session_cpu() {
  local total=0 p
  for p in $(ps -o pid= --sid "$wayland_session_pid"); do total=$(awk -v a="$total" -v b="$(cpu "$p")" 'BEGIN { print a + b }'); done
  echo "$total"
}
# The capturers run as the session's user, each command one process (so $!
# is the capturer itself).
as_user=(env)
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups env)

start_wayland_session 1280 720
export DISPLAY= XDG_STATE_HOME=$XDG_RUNTIME_DIR/state PELLIX_CAPTURE_BACKEND=portal
frame=$((1280 * 720 * 4))

mkfifo "$work/window"
"$painter" 1280 720 336699 pellix-bench <"$work/window" >"$work/window.out" &
started+=($!)
exec 3>"$work/window"
for _ in $(seq 500); do grep -q ready "$work/window.out" 2>/dev/null && break; sleep 0.02; done
swaymsg -q '[app_id="^pellix-bench$"] move absolute position 0 0'
animate() { echo "animate $1" >&3; }

scene_cost() {  # → CPU-s per 10 s of the whole session
  local s0 s1; s0=$(session_cpu); sleep "$seconds"; s1=$(session_cpu)
  awk -v a="$s0" -v b="$s1" -v s="$seconds" 'BEGIN { print (b - a) * 10 / s }'
}

measure() {  # measure LABEL SCENE-COST COMMAND...
  local label=$1 scene=$2; shift 2
  rm -f "$work/out"; mkfifo "$work/out"
  "${as_user[@]}" "$@" >"$work/out" 2>/dev/null &
  local pid=$!
  cat "$work/out" >/dev/null &
  local reader=$!
  sleep 1  # the portal's set-up
  local c0 s0 r0 k0; c0=$(cpu "$pid"); s0=$(session_cpu); r0=$(received "$reader"); k0=$(cpu "$reader")
  sleep "$seconds"
  local c1 s1 r1 k1; c1=$(cpu "$pid"); s1=$(session_cpu); r1=$(received "$reader"); k1=$(cpu "$reader")
  kill -TERM "$pid"; wait "$pid" "$reader" 2>/dev/null || true
  awk -v l="$label" -v c="$c0" -v C="$c1" -v s="$s0" -v S="$s1" -v scene="$scene" -v t="$seconds" \
      -v b="$((r1 - r0))" -v f="$frame" -v k="$k0" -v K="$k1" \
    'BEGIN {
       cap = (C - c) * 10 / t; extra = (S - s) * 10 / t - scene
       printf "%-32s capturer %5.2f  session +%5.2f  total %5.2f CPU-s/10s   %5.1f frames/s   (reader %4.2f)\n",
              l, cap, extra, cap + extra, b / f / t, (K - k) * 10 / t
       print cap + extra > "/dev/stderr"
     }' 2>>"$work/totals"
}

# Wall time from the start to the first whole frame, in ms, median of 10;
# "none" for runs without a frame within 5 s.
first_frame() {  # first_frame LABEL
  for _ in $(seq 10); do
    local t0 t1 got; t0=$(date +%s%N)
    got=$("${as_user[@]}" timeout 5 "$tool" --fps 30 2>/dev/null | head -c "$frame" | wc -c || true)
    t1=$(date +%s%N)
    if [ "$got" -eq "$frame" ]; then echo $(((t1 - t0) / 1000)); else echo none; fi
  done | sort -n | awk -v l="$1" '$1 == "none" { none++; next } { v[++n] = $1 } END {
      if (n) printf "%-32s median %6.1f ms   fastest %6.1f   slowest %6.1f", l, v[int((n + 1) / 2)] / 1000, v[1] / 1000, v[n] / 1000
      else printf "%-32s no frame", l
      printf "%s\n", none ? sprintf("   (%d of 10 runs: no frame within 5 s)", none) : "" }'
}

timed() {  # timed LABEL COMMAND...
  local label=$1; shift
  for _ in $(seq 10); do
    local t0 t1; t0=$(date +%s%N); "${as_user[@]}" "$@" >/dev/null 2>&1; t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
  done | sort -n | awk -v l="$label" '{ v[NR] = $1 } END {
      printf "%-32s median %6.1f ms   fastest %6.1f   slowest %6.1f\n", l, v[int((NR + 1) / 2)] / 1000, v[1] / 1000, v[NR] / 1000 }'
}

echo "sway 1280x720 headless (pixman), portal with xdg-desktop-portal-wlr; reader: cat > /dev/null; $seconds s per case; $(nproc) cores"
animate 30
sleep 0.5
changing=$(scene_cost)
printf "%-32s session %5.2f CPU-s/10s\n" "scene alone, changing" "$changing"
measure "bare PipeWire consumer 720p30" "$changing" "$loop" 30
measure "pellix portal 720p30" "$changing" "$tool" --fps 30
paste -sd' ' "$work/totals" | awk '{ printf "%-32s %.2f (target: at most 1.3)\n", "pellix / bare consumer", $2 / $1 }'

animate 0
sleep 0.5
echo
first_frame "first frame, still, matched"
swaymsg -q create_output
swaymsg -q output HEADLESS-2 resolution 1280x720 position 1280 0
sleep 0.5
first_frame "first frame, still, unmatched"
swaymsg -q output HEADLESS-2 disable
timed "pellix shot (portal asked)" "$tool" shot --out "$XDG_RUNTIME_DIR/shot.png"
ls -l "$XDG_RUNTIME_DIR/shot.png" | awk '{ printf "%-32s %d bytes\n", "shot.png", $5 }'
