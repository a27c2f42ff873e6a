#!/usr/bin/env bash
# The video job and the screenshot on a private headless sway (1920x1080),
# against a bare screencopy loop of our own and against grim, in one run.
#   bench/wayland.sh [build-dir] [seconds]
# Prints:
# - per case, the CPU seconds per 10 s of the capturer and what capturing adds
#   to the compositor's own cost of the scene, their total, the frames a
#   second that reached the reader (`cat > /dev/null`) and the reader's CPU
#   (not part of the total); the scene is a window of 1280x720 repainted 30
#   times a second, or the same window still;
# - the copies the compositor made for the tool on the changing and on the
#   still screen (its "ready" events, counted with WAYLAND_DEBUG);
# - the wall time of a screenshot, process start to end, median of 20, for
#   the tool and for grim.
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/process.sh
build=$(realpath "${1:-build}")
seconds=${2:-10}
tool=$build/src/pellix-capture
loop=$build/tools/screencopy-loop
painter=$build/tests/e2e/wayland-paint

source tools/servers.sh
private_folder work wayland-bench

start_wayland_session 1920 1080
export DISPLAY=
compositor=$(sed 's/.*sway-ipc\.[0-9]*\.\([0-9]*\)\.sock/\1/' <<<"$SWAYSOCK")
frame=$((1920 * 1080 * 4))

# The scene: a window of 1280x720 at the top left; told to repaint or not
# through a pipe that this script holds.
mkfifo "$work/window"
"$painter" 1280 720 336699 pellix-bench <"$work/window" >"$work/window.out" &
started+=($!)
exec 3>"$work/window"
for _ in $(seq 500); do grep -q ready "$work/window.out" 2>/dev/null && break; sleep 0.02; done
swaymsg -q '[app_id="^pellix-bench$"] move absolute position 0 0'
sleep 0.5
animate() { echo "animate $1" >&3; }

# The compositor's cost of the scene, with nothing capturing it.
scene_cost() {  # scene_cost → CPU-s per 10 s
  local s0 s1; s0=$(cpu "$compositor"); sleep "$seconds"; s1=$(cpu "$compositor")
  awk -v a="$s0" -v b="$s1" -v s="$seconds" 'BEGIN { print (b - a) * 10 / s }'
}

measure() {  # measure LABEL SCENE-COST COMMAND...
  local label=$1 scene=$2; shift 2
  "$@" 2>/dev/null | cat >/dev/null &
  local reader=$!
  sleep 0.5
  local pid; pid=$(pgrep -n -f "^$1" || true)
  local c0 s0 r0 k0; c0=$(cpu "$pid"); s0=$(cpu "$compositor"); r0=$(received "$reader"); k0=$(cpu "$reader")
  sleep "$seconds"
  local c1 s1 r1 k1; c1=$(cpu "$pid"); s1=$(cpu "$compositor"); r1=$(received "$reader"); k1=$(cpu "$reader")
  kill -TERM "$pid"; wait "$reader" 2>/dev/null || true
  awk -v l="$label" -v c="$c0" -v C="$c1" -v s="$s0" -v S="$s1" -v scene="$scene" -v t="$seconds" \
      -v b="$((r1 - r0))" -v f="$frame" -v k="$k0" -v K="$k1" \
    'BEGIN {
       cap = (C - c) * 10 / t; extra = (S - s) * 10 / t - scene
       printf "%-34s capturer %5.2f  compositor +%5.2f  total %5.2f CPU-s/10s   %5.1f frames/s   (reader %4.2f)\n",
              l, cap, extra, cap + extra, b / f / t, (K - k) * 10 / t
       print cap + extra > "/dev/stderr"
     }' 2>>"$work/totals"
}

# Copies the compositor made for the tool in `seconds`: its "ready" events.
copies() {  # copies LABEL
  WAYLAND_DEBUG=client "$tool" --fps 30 2>"$work/debug" >/dev/null &
  local pid=$!
  sleep 0.5
  local before; before=$(grep -c 'zwlr_screencopy_frame_v1@[0-9]*\.ready' "$work/debug" || true)
  sleep "$seconds"
  local after; after=$(grep -c 'zwlr_screencopy_frame_v1@[0-9]*\.ready' "$work/debug" || true)
  kill -TERM "$pid"; wait "$pid" 2>/dev/null || true
  printf "%-34s %d copies in %d s after the first half second\n" "$1" "$((after - before))" "$seconds"
}

# Wall time of one command, in milliseconds, median / fastest / slowest of 20.
timed() {  # timed LABEL COMMAND...
  local label=$1; shift
  for _ in $(seq 20); do
    local t0 t1; t0=$(date +%s%N); "$@" >/dev/null 2>&1; t1=$(date +%s%N)
    echo $(((t1 - t0) / 1000))
  done | sort -n | awk -v l="$label" '{ v[NR] = $1 } END {
      printf "%-34s median %6.1f ms   fastest %6.1f   slowest %6.1f\n", l, v[int((NR + 1) / 2)] / 1000, v[1] / 1000, v[NR] / 1000 }'
}

echo "sway 1920x1080 headless (pixman); reader: cat > /dev/null; $seconds s per case; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
animate 30
sleep 0.5
changing=$(scene_cost)
printf "%-34s compositor %5.2f CPU-s/10s\n" "scene alone, changing" "$changing"
measure "bare loop 1080p30 changing" "$changing" "$loop" 30
measure "pellix 1080p30 changing" "$changing" "$tool" --fps 30
paste -sd' ' "$work/totals" | awk '{ printf "%-34s %.2f (target: at most 1.3)\n", "pellix / bare loop", $2 / $1 }'
copies "copies, changing screen"

animate 0
sleep 0.5
: >"$work/totals"
still=$(scene_cost)
printf "%-34s compositor %5.2f CPU-s/10s\n" "scene alone, still" "$still"
measure "bare loop 1080p30 still" "$still" "$loop" 30
measure "pellix 1080p30 still" "$still" "$tool" --fps 30
copies "copies, still screen"

echo
timed "pellix shot (PNG)" "$tool" shot --out "$work/shot.png"
timed "grim (PNG)" grim "$work/grim.png"
for file in shot.png grim.png; do printf "%-34s %d bytes\n" "$file" "$(stat -c %s "$work/$file")"; done
