# Sourced by the demo, bench and test scripts: starts private servers, and at
# the script's end stops them with everything else it started.
# A server that does not answer in ten seconds ends the script.
#   start_xvfb WIDTH HEIGHT        a private X server; exports DISPLAY once it answers
#   private_display WIDTH HEIGHT   the display server of the environment when one
#                                  answers (false), else start_xvfb (true)
#   start_pulse FOLDER [OPTIONS]   a private PulseAudio with one null sink as the
#                                  default output, its socket in FOLDER (OPTIONS go
#                                  to its native protocol module); exports
#                                  XDG_RUNTIME_DIR and PULSE_SERVER once it answers
#   start_wayland_session WIDTH HEIGHT   a private headless sway (wayland_session.sh)
#   private_folder VARIABLE NAME   a new folder only we may enter, removed at the
#                                  end; its path goes into VARIABLE
#   started+=(PID)                 anything else to stop at the end
#   stop_started                   stops, newest first, what was started so far
# A script that sets its own EXIT trap calls stop_servers from it.

source "$(dirname "${BASH_SOURCE[0]}")/wayland_session.sh"

started=()
private_folders=()

stop_started() {
  local i
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do kill "${started[i]}" 2>/dev/null || true; done
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do wait "${started[i]}" 2>/dev/null || true; done
  started=()
}

stop_servers() {
  stop_started
  stop_wayland_session
  local folder
  for folder in "${private_folders[@]}"; do rm -rf --one-file-system "$folder"; done
  private_folders=()
}
trap stop_servers EXIT
trap 'exit 130' INT TERM  # so that the EXIT trap stops the servers too

private_folder() {  # private_folder VARIABLE NAME
  local folder
  folder=$(mktemp -d "/tmp/pellix-$2.XXXXXX")
  chmod 700 "$folder"
  private_folders+=("$folder")
  printf -v "$1" '%s' "$folder"
}

start_xvfb() {  # start_xvfb WIDTH HEIGHT
  local n=$((200 + RANDOM % 600))
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  export DISPLAY=:$n
  Xvfb "$DISPLAY" -screen 0 "$1x$2x24" +extension RANDR -noreset -nolisten tcp >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 200); do xdpyinfo >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "Xvfb did not start on $DISPLAY" >&2
  exit 1
}

private_display() {  # private_display WIDTH HEIGHT
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 1; fi
  if [ -n "${WAYLAND_DISPLAY:-}" ] && wayland-info >/dev/null 2>&1; then return 1; fi
  start_xvfb "$1" "$2"
}

start_pulse() {  # start_pulse FOLDER [OPTIONS]
  export XDG_RUNTIME_DIR=$1 PULSE_SERVER=unix:$1/pulse/native
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --log-target=file:"$1/pulse.log" \
    -L "module-native-protocol-unix ${2:-}" \
    -L "module-null-sink sink_name=speakers rate=48000 channels=2 format=float32le" &
  started+=($!)
  for _ in $(seq 200); do pactl info >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "PulseAudio did not start; its log is $1/pulse.log" >&2
  exit 1
}
