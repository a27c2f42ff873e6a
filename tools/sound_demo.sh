#!/usr/bin/env bash
# Records a couple of seconds of system sound with pellix-capture and says how
# much arrived and how loud it was.
#
#   tools/sound_demo.sh <pellix-capture binary> [seconds, default 2]
#
# Uses the PulseAudio server of the environment when one answers (and records
# whatever plays there); otherwise starts a private one with a null sink and
# plays a 440 Hz tone at half scale into it. The tool lists the displays
# first, so it needs an X server: $DISPLAY when it answers, else a private
# Xvfb. Everything it starts, it stops.
set -euo pipefail
tool=$(realpath "$1")
seconds=${2:-2}

source "$(dirname "$0")/servers.sh"
private_folder work sound-demo
private_display 640 480 || true

if pactl info >/dev/null 2>&1; then
  echo "sound server: $(pactl info | sed -n 's/^Server Name: //p'), default output $(pactl info | sed -n 's/^Default Sink: //p')"
else
  start_pulse "$work"
  sox -q -n -r 48000 -c 2 -b 16 "$work/tone.wav" synth $((seconds + 8)) sine 440 vol 0.5
  paplay --latency-msec=20 "$work/tone.wav" 2>/dev/null &
  started+=($!)
  # A sink that was idle plays out up to two seconds it rendered earlier
  # (silence) before the tone is heard.
  sleep 2.5
  echo "private sound server with a null sink, playing 440 Hz at half scale"
fi

echo "recording for $seconds s"
"$tool" audio --verbose >"$work/sound.raw" 2>"$work/errors" &
tool_pid=$!
sleep "$seconds"
kill -TERM $tool_pid
code=0
wait $tool_pid || code=$?
sed 's/^/  /' "$work/errors"
bytes=$(stat -c %s "$work/sound.raw")
frames=$((bytes / 8))
echo "exit code $code; received $frames frames ($(awk -v f=$frames 'BEGIN { printf "%.2f", f / 48000 }') s at 48 kHz)"
if [ "$frames" -gt 0 ]; then
  sox -t raw -r 48000 -e floating-point -b 32 -c 2 -L "$work/sound.raw" -n stat 2>&1 |
    awk -F: '/RMS +amplitude/ { rms = $2 } /Maximum amplitude/ { peak = $2 }
      END {
        level = rms > 0 ? sprintf("%.1f dBFS", 20 * log(rms) / log(10)) : "silence"
        printf "level: RMS %.4f (%s), peak %.4f\n", rms, level, peak
      }'
fi
