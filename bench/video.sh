#!/usr/bin/env bash
# CPU cost and delivered rate of the video job against ffmpeg's x11grab, on a
# private Xvfb, reader `cat > /dev/null`.
#   bench/video.sh [build-dir] [seconds] [first|exclusion]
#     first: the 1080p30 changing case only; exclusion: the case of an
#     application left out only
# Prints, per case, the CPU seconds per 10 s of the capturer and of the X
# server, the frames a second that reached the reader, and the reader's own
# CPU seconds (not part of the total).
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/process.sh
build=$(realpath "${1:-build}")
seconds=${2:-10}
tool=$build/src/pellix-capture
painter=$build/tests/e2e/paint-window

source tools/servers.sh
server() {  # server WIDTH HEIGHT
  start_xvfb "$1" "$2"
  display=$DISPLAY
  xvfb=${started[-1]}
}

# A window over a quarter of the screen; with "changing", repainted in a new
# colour 60 times a second by the window's own client.
scene() {  # scene WIDTH HEIGHT still|changing
  exec 3> >(DISPLAY=$display "$painter" 0 0 "$(($1 / 2))" "$(($2 / 2))" 336699 bench >/dev/null)
  started+=($!)
  sleep 0.5
  if [ "$3" = changing ]; then echo "animate 60" >&3; fi
}

measure() {  # measure LABEL FPS COMMAND...
  local label=$1 fps=$2; shift 2
  "$@" 2>/dev/null | cat > /dev/null &
  local pipeline=$!
  sleep 0.5
  local pid reader=$pipeline; pid=$(pgrep -n -f "^$1" || true)
  local c0 x0 r0 k0; c0=$(cpu "$pid"); x0=$(cpu "$xvfb"); r0=$(received "$reader"); k0=$(cpu "$reader")
  sleep "$seconds"
  local c1 x1 r1 k1; c1=$(cpu "$pid"); x1=$(cpu "$xvfb"); r1=$(received "$reader"); k1=$(cpu "$reader")
  kill -TERM "$pid"; wait "$pipeline" 2>/dev/null || true
  total=$(awk "BEGIN{print ($c1 - $c0 + $x1 - $x0) * 10 / $seconds}")
  awk -v l="$label" -v c="$(awk "BEGIN{print $c1 - $c0}")" -v x="$(awk "BEGIN{print $x1 - $x0}")" -v s="$seconds" \
      -v b="$((r1 - r0))" -v f="$frame" -v k="$(awk "BEGIN{print $k1 - $k0}")" \
    'BEGIN { printf "%-34s capturer %5.2f  X server %5.2f  total %5.2f CPU-s/10s   %5.1f frames/s   (reader %4.2f)\n", l, c*10/s, x*10/s, (c+x)*10/s, b/f/s, k*10/s }'
}

# The X server's own cost of the scene, with nothing capturing it.
scene_only() {  # scene_only LABEL
  local x0; x0=$(cpu "$xvfb"); sleep "$seconds"; local x1; x1=$(cpu "$xvfb")
  awk -v l="$1" -v x="$(awk "BEGIN{print $x1 - $x0}")" -v s="$seconds" \
    'BEGIN { printf "%-34s                 X server %5.2f\n", l, x*10/s }'
}

run_case() {  # run_case WIDTH HEIGHT FPS SCENE [peer]
  local w=$1 h=$2 fps=$3 kind=$4
  server "$w" "$h"
  scene "$w" "$h" "$kind"
  frame=$((w * h * 4))
  if [ "${5:-}" = peer ]; then scene_only "scene alone ${w}x${h} $kind"; fi
  DISPLAY=$display measure "pellix ${w}x${h}@${fps} $kind" "$fps" "$tool" --fps "$fps"
  if [ "${5:-}" = peer ]; then
    measure "ffmpeg ${w}x${h}@${fps} $kind" "$fps" ffmpeg -loglevel quiet -f x11grab -framerate "$fps" \
      -video_size "${w}x${h}" -i "$display" -f rawvideo -pix_fmt bgra -
  fi
  stop_started
}

# A 1280x720 video at 30 frames a second on a 1920x1080 screen, and a still
# window of another process over its corner: captured whole, then with that
# window's application left out, in turn three times (the load of a shared
# machine drifts). Prints the cost of leaving it out as the ratio of the sums.
exclusion_case() {
  server 1920 1080
  exec 3> >(DISPLAY=$display "$painter" 0 0 1280 720 336699 video >/dev/null)
  started+=($!)
  exec 4> >(DISPLAY=$display "$painter" 1000 500 600 400 808080 still >/dev/null)
  started+=($!)
  local still=$! whole=0 leaving=0
  sleep 0.5
  echo "animate 30" >&3
  frame=$((1920 * 1080 * 4))
  for _ in 1 2 3; do
    DISPLAY=$display measure "pellix video@30" 30 "$tool" --fps 30
    whole=$(awk "BEGIN{print $whole + $total}")
    DISPLAY=$display measure "pellix video@30, one left out" 30 "$tool" --fps 30 --exclude-pid "$still"
    leaving=$(awk "BEGIN{print $leaving + $total}")
  done
  awk -v a="$leaving" -v b="$whole" 'BEGIN { printf "%-34s %5.2f times the capture without it\n", "leaving one application out", a / b }'
  stop_started
}

echo "reader: cat > /dev/null; $seconds s per case; $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
if [ "${3:-}" = exclusion ]; then exclusion_case; exit 0; fi
run_case 1920 1080 30 changing peer
[ "${3:-}" = first ] && exit 0
run_case 1920 1080 30 still peer
run_case 1920 1080 60 changing peer
run_case 1920 1080 60 still
run_case 3840 2160 60 changing peer
exclusion_case
