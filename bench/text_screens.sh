#!/usr/bin/env bash
# Words read on whole screens of real X programs: makes the screens of
# tools/text_screens.py on a private 1280x720 Xvfb with the first build given,
# then reads them with every build given and with the tesseract command line,
# and prints per screen the share of words read right, whole and from its
# windows cut out alone, and the time per screen at both levels.
#   bench/text_screens.sh [BINARY ...] [-- bench/text_screens.py options]
# Without a binary: build/src/pellix-capture.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binaries=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do binaries+=("$(realpath "$1")"); shift; done
[ $# -gt 0 ] && shift
[ ${#binaries[@]} -gt 0 ] || binaries=("$root/build/src/pellix-capture")

work=$(mktemp -d /tmp/pellix-text-screens.XXXXXX)
started=()
cleanup() {
  for pid in "${started[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM  # so that the EXIT trap stops the server too

source "$root/tools/display.sh"
start_xvfb 1280 720
"$root/tools/text_screens.py" "${binaries[0]}" "$work"
"$root/bench/text_screens.py" "$work/screens.json" "${binaries[@]}" "$@"
