#!/usr/bin/env bash
# Wall time of a 1920x1080 screenshot written as PNG, from process start to
# the answer (peers: to their end), median of N runs, and the file's size, for
# pellix-capture, `scrot`, ImageMagick's `import -window root` and `maim` when
# installed, on one private Xvfb in two scenes:
#   text    an xterm full of text over a tiled root (two colours)
#   photo   a photo-like picture filling the screen
#   bench/shot.sh [build-dir] [runs]
# Prints the conditions, then per scene and tool the median, fastest and
# slowest time and the file's size.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-7}
tool=$build/src/pellix-capture

source tools/servers.sh
private_folder work shot-bench
start_xvfb 1920 1080
xsetroot -gray  # the classic tiled root: a two-colour stipple

load=$(cut -d' ' -f1-3 /proc/loadavg)
echo "1920x1080 screenshot to PNG; median of $runs runs each, tools interleaved; $(nproc) cores; load $load"

measure() {  # measure SCENE
  python3 - "$runs" "$work" "$tool" "$1" <<'PY'
import os, shutil, statistics, subprocess, sys, time
runs, work, tool, scene = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
names = ["pellix-capture", "scrot", "import"] + (["maim"] if shutil.which("maim") else [])
out = {name: os.path.join(work, f"{scene}-{name}.png") for name in names}

def pellix(path):
    p = subprocess.Popen([tool, "shot", "--out", path], stdout=subprocess.PIPE)
    line = p.stdout.readline()  # the answer
    p.wait()
    if p.returncode != 0 or not line:
        sys.exit("pellix-capture failed")

def peer(*command):
    def run(path):
        subprocess.run([*command, path], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return run

tools = {
    "pellix-capture": pellix,
    "scrot": peer("scrot", "-o"),
    "import": peer("import", "-window", "root"),
    "maim": peer("maim"),
}
times = {name: [] for name in names}
for _ in range(runs):  # interleaved, so that each meets the same machine
    for name in names:
        start = time.perf_counter()
        tools[name](out[name])
        times[name].append((time.perf_counter() - start) * 1000)
for name in names:
    t = times[name]
    size = os.path.getsize(out[name])
    print(f"{scene + ' ' + name:34s} median {statistics.median(t):7.1f} ms   fastest {min(t):7.1f}"
          f"   slowest {max(t):7.1f}   file {size / 1024:8.1f} KiB")
PY
}

# Text: a large xterm showing a page of text, the root around it.
xterm -geometry 200x60+40+30 -e sh -c 'fold -s -w 200 README.md | head -n 59; exec sleep infinity' &
started+=($!)
for _ in $(seq 100); do xwininfo -root -children | grep -q '"xterm"' && break; sleep 0.05; done
sleep 1  # the text drawn
measure text
kill "${started[-1]}"; wait "${started[-1]}" 2>/dev/null || true; unset 'started[-1]'

# Photo: a picture of smooth gradients and fine grain over the whole screen.
convert -seed 7 -size 1920x1080 plasma:fractal -blur 0x1 -depth 8 "$work/photo.png"
display -geometry +0+0 "$work/photo.png" &
started+=($!)
for _ in $(seq 100); do xwininfo -root -children | grep -q 'ImageMagick' && break; sleep 0.05; done
sleep 1
measure photo
