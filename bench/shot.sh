#!/usr/bin/env bash
# Wall time of a 1920x1080 screenshot written as PNG, from process start to
# the answer (peers: to their end), median of N runs, for pellix-capture, ImageMagick's
# `import -window root` and `scrot`, on one private Xvfb showing a
# photo-like picture, a window of rendered text and two plain windows.
#   bench/shot.sh [build-dir] [runs]
# Prints the conditions, then per tool the median, fastest and slowest time
# and the file's size.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-20}
tool=$build/src/pellix-capture
painter=$build/tests/e2e/paint-window

source tools/servers.sh
private_folder work shot-bench
start_xvfb 1920 1080

# The scene: a photo-like picture over the whole screen, a page of text, and
# two windows of one colour each.
convert -seed 7 -size 1920x1080 plasma:fractal -blur 0x1 -depth 8 "$work/photo.png"
text=$(fold -s -w 110 README.md | sed -n '1,45p' | sed 's/%/%%/g')
convert -size 900x700 xc:white -fill black -font DejaVu-Sans -pointsize 13 -annotate +12+18 "$text" -depth 8 \
  "$work/text.png"
display -geometry +0+0 "$work/photo.png" &
started+=($!)
sleep 1
display -geometry +200+120 "$work/text.png" &
started+=($!)
sleep 1
exec 3> >("$painter" 1200 200 500 400 336699 plain >/dev/null)
started+=($!)
exec 4> >("$painter" 1300 700 400 250 cc8844 plain >/dev/null)
started+=($!)
sleep 0.5

python3 - "$runs" "$work" "$tool" <<'PY'
import os, statistics, subprocess, sys, time
runs, work, tool = int(sys.argv[1]), sys.argv[2], sys.argv[3]
out = {name: os.path.join(work, name + ".png") for name in ("pellix-capture", "import", "scrot")}

def pellix():
    p = subprocess.Popen([tool, "shot", "--out", out["pellix-capture"]], stdout=subprocess.PIPE)
    line = p.stdout.readline()  # the answer
    p.wait()
    if p.returncode != 0 or not line:
        sys.exit("pellix-capture failed")

def peer(command):
    def run():
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return run

tools = {
    "pellix-capture": pellix,
    "import": peer(["import", "-window", "root", out["import"]]),
    "scrot": peer(["scrot", "-o", out["scrot"]]),
}
times = {name: [] for name in tools}
for _ in range(runs):  # interleaved, so that each meets the same machine
    for name, run in tools.items():
        start = time.perf_counter()
        run()
        times[name].append((time.perf_counter() - start) * 1000)
load = " ".join(open("/proc/loadavg").read().split()[:3])
print(f"1920x1080 screenshot to PNG; {runs} runs each; {os.cpu_count()} cores; load {load}")
for name, t in times.items():
    size = os.path.getsize(out[name])
    print(f"{name:34s} median {statistics.median(t):7.1f} ms   fastest {min(t):7.1f}   slowest {max(t):7.1f}"
          f"   file {size / 1024:8.0f} KiB")
PY
