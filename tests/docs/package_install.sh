#!/usr/bin/env bash
# Installs the Debian package the way a user does, with apt-get, into a clean
# Debian 12 made by debootstrap, and runs every job of the installed binary
# there against an Xvfb and a PulseAudio of this machine.
#   tests/docs/package_install.sh [BUILD_DIR] [MIRROR]
# Needs root, debootstrap and a reachable Debian mirror; takes a minute or two,
# so the test command does not run it.
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build}")
mirror=${2:-http://deb.debian.org/debian}

source tools/servers.sh
private_folder work package
chroot_dir=$work/root
# /proc leaves the chroot before the folder goes.
trap 'umount "$chroot_dir/proc" 2>/dev/null || true; stop_servers' EXIT
seconds() { date +%s.%N; }
elapsed() { awk -v from="$1" -v to="$(seconds)" 'BEGIN { printf "%.1f", to - from }'; }
inside() { chroot "$chroot_dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }

echo "package: building from $build"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(ls "$work"/out/pellix-capture_*.deb)
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"

start=$(seconds)
if ! debootstrap --variant=minbase bookworm "$chroot_dir" "$mirror" >"$work/debootstrap.log" 2>&1; then
  tail -5 "$work/debootstrap.log" >&2
  echo "debootstrap could not make a Debian 12 from $mirror" >&2
  exit 1
fi
echo "debootstrap: clean Debian 12 in $(elapsed "$start") s, $(du -smx "$chroot_dir" | cut -f1) MB"
# /proc lets the text service start itself again with its thread limit.
mount -t proc proc "$chroot_dir/proc" 2>/dev/null || echo "note: /proc not mounted in the chroot"

cp "$deb" "$chroot_dir/tmp/"
before=$(inside dpkg-query -W -f='.\n' | wc -l)
start=$(seconds)
inside apt-get update -qq >"$work/apt.log" 2>&1
inside env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "/tmp/$(basename "$deb")" >>"$work/apt.log" 2>&1 ||
  { tail -20 "$work/apt.log" >&2; echo "apt-get install failed" >&2; exit 1; }
after=$(inside dpkg-query -W -f='.\n' | wc -l)
echo "apt-get install: $(elapsed "$start") s, $((after - before)) packages added, $(du -smx "$chroot_dir" | cut -f1) MB now"

# Services on this machine, reached from the chroot: the X server through its
# abstract socket, the sound server through a socket inside the chroot.
start_xvfb 1280 720
display=$DISPLAY
runtime=$chroot_dir/run/pellix-sound
mkdir -p -m 700 "$runtime"
start_pulse "$runtime" auth-anonymous=1
xmessage -geometry 480x120+40+40 "Installed and reading" &
started+=($!)
sleep 1

tool() {
  inside env DISPLAY="$display" PULSE_SERVER=unix:/run/pellix-sound/pulse/native pellix-capture "$@"
}
unknown_argument() {
  local err code=0
  err=$(tool --bogus 2>&1 >/dev/null) || code=$?
  [ "$code" = 2 ] && [ "$err" = "pellix-capture: unknown argument --bogus" ]
}
manual_page() { man -l "$chroot_dir/usr/share/man/man1/pellix-capture.1.gz" 2>/dev/null | grep -q "EXIT STATUS"; }
listing() { tool list | grep -q '"title":"xmessage"'; }
one_frame() { [ "$(tool --fps 5 2>/dev/null | head -c 3686400 | wc -c)" = 3686400 ]; }
one_second_of_sound() {
  local bytes
  bytes=$(timeout 1 chroot "$chroot_dir" env DISPLAY="$display" \
    PULSE_SERVER=unix:/run/pellix-sound/pulse/native pellix-capture audio 2>/dev/null | wc -c)
  echo "  sound: $bytes bytes in 1 s (384000 a second)"
  [ "$bytes" -gt 300000 ] && [ "$bytes" -lt 400000 ]
}
shot_and_text() {
  local answer
  tool shot --out /tmp/shot.png >/dev/null || return 1
  answer=$(echo '{"path":"/tmp/shot.png"}' | tool ocr)
  printf '%s\n' "$answer" | sed 's/^/  ocr: /'
  printf '%s\n' "$answer" | grep -q '"t":"reading"'
}

failures=0
for check in unknown_argument manual_page listing one_frame one_second_of_sound shot_and_text; do
  if "$check"; then echo "ok: $check"; else echo "FAILED: $check"; failures=$((failures + 1)); fi
done
echo "checks failed: $failures"
[ "$failures" -eq 0 ]
