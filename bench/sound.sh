#!/usr/bin/env bash
# Measures the audio job on a private PulseAudio server with a null sink:
#   - CPU time of pellix-capture per 60 s of recording while a tone plays,
#     for the whole display (the sink's monitor) and with one application left
#     out (a mix of the other sink inputs), beside parec and ffmpeg recording
#     the same monitor into the same kind of pipe;
#   - the placement error of tone bursts: where each burst's first frame lands
#     in the output, against where the player's clock says it is heard.
#
#   bench/sound.sh [build-dir] [seconds per CPU run, default 60] [bursts, default 20]
# Prints the conditions, then one line per case.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
seconds=${2:-60}
bursts=${3:-20}
tool=$build/src/pellix-capture
player=$build/tests/e2e/sound-player
painter=$build/tests/e2e/paint-window
ticks=$(getconf CLK_TCK)

source tools/servers.sh
private_folder work sound-bench
start_xvfb 640 480
start_pulse "$work"

# An application with a window, to be left out; it lives while its input is open.
mkfifo "$work/hold"
exec 3<>"$work/hold"
"$painter" 0 0 100 100 808080 left-out <"$work/hold" >/dev/null &
left_out=$!
started+=($left_out)
sleep 0.3

# CPU seconds of process $1 so far (all its threads).
cpu() { awk -v t="$ticks" '{ sub(/^.*\) /, ""); printf "%.2f", ($12 + $13) / t }' "/proc/$1/stat"; }

# Runs "$@" for $seconds with its output counted, and prints its CPU use.
measure() {
  local name=$1
  shift
  "$@" > >(wc -c >"$work/bytes") 2>/dev/null &
  local pid=$!
  sleep "$seconds"
  local used
  used=$(cpu $pid)
  kill -TERM $pid
  wait $pid 2>/dev/null || true
  sleep 0.2
  local bytes
  bytes=$(cat "$work/bytes")
  awk -v n="$name" -v u="$used" -v s="$seconds" -v b="$bytes" 'BEGIN {
    printf "%-34s %6.2f s CPU per 60 s (%5.2f %% of a core), %.0f frames/s\n", n, u * 60 / s, 100 * u / s, b / 8 / s }'
}

sox -q -n -r 48000 -c 2 -b 16 "$work/tone.wav" synth $((4 * seconds + 30)) sine 440 vol 0.5
paplay --latency-msec=20 "$work/tone.wav" 2>/dev/null &
player_pid=$!
started+=($player_pid)
sleep 2.5

echo "$(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "CPU while a 440 Hz tone plays, $seconds s per run, output into a pipe:"
measure "pellix-capture audio" "$tool" audio
measure "pellix-capture audio --exclude-pid" "$tool" audio --exclude-pid "$left_out"
measure "parec (same monitor, 10 ms)" parec -d @DEFAULT_MONITOR@ --raw --format=float32le --rate=48000 \
  --channels=2 --latency-msec=10
measure "ffmpeg -f pulse (same monitor)" ffmpeg -nostdin -loglevel error -f pulse -fragment_size 3840 \
  -i @DEFAULT_MONITOR@ -f f32le -ac 2 -ar 48000 -
kill "$player_pid" 2>/dev/null || true

# Onsets in a raw recording: the first frame of each sound after 50 ms of silence.
onsets() {
  od -An -v -f -w8 "$1" | awk '{ a = $1 < 0 ? -$1 : $1
    if (a >= 0.01 && quiet >= 2400) print NR - 1
    quiet = a < 0.01 ? quiet + 1 : 0 }'
}

placement() {
  local name=$1
  shift
  "$tool" audio "$@" >"$work/sound.raw" 2>"$work/errors" &
  local pid=$!
  sleep 0.5
  : >"$work/heard"
  for _ in $(seq "$bursts"); do
    "$player" 0.2 0.1 1000 0.15 | awk 'NF == 2 { print $2 }' >>"$work/heard"
  done
  sleep 0.2
  kill -TERM $pid
  wait $pid || true
  local start
  start=$(awk '/^start / { print $2 }' "$work/errors")
  onsets "$work/sound.raw" >"$work/onsets"
  awk -v start="$start" -v name="$name" '
    NR == FNR { found[n++] = $1; next }
    { want = ($1 - start) * 48000
      best = -1
      for (i = 0; i < n; i++) if (best < 0 || (found[i] - want) ^ 2 < (found[best] - want) ^ 2) best = i
      if (best < 0) { missing++; next }
      e = (found[best] - want) / 48; sum += e; count++
      if (count == 1 || e < low) low = e
      if (count == 1 || e > high) high = e
      abs = e < 0 ? -e : e; if (abs > worst) worst = abs }
    END { printf "%-34s %d bursts: error mean %+.3f ms, from %+.3f to %+.3f ms (worst %.3f ms)%s\n",
            name, count, sum / count, low, high, worst, missing ? ", " missing " not found" : "" }' \
    "$work/onsets" "$work/heard"
}

echo "Placement of 100 ms tone bursts (1000 Hz, each from a new player), first frame against the player's clock:"
placement "pellix-capture audio"
placement "pellix-capture audio --exclude-pid" --exclude-pid "$left_out"
