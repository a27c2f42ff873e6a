# Sourced by the demo and bench scripts, which keep the pids of what they
# start in `started` and stop them on exit.

# Starts a private Xvfb of WIDTH x HEIGHT on a free display number, exports
# DISPLAY and returns once the server answers.
start_xvfb() {  # start_xvfb WIDTH HEIGHT
  local n=$((200 + RANDOM % 600))
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  export DISPLAY=:$n
  Xvfb "$DISPLAY" -screen 0 "$1x$2x24" +extension RANDR -noreset -nolisten tcp >/dev/null 2>&1 &
  started+=($!)
  for _ in $(seq 200); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
}

# Keeps the display server of the environment when one answers, the X server
# in $DISPLAY or the Wayland compositor in $WAYLAND_DISPLAY (false); else
# starts a private X server (true).
private_display() {  # private_display WIDTH HEIGHT
  if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then return 1; fi
  if [ -n "${WAYLAND_DISPLAY:-}" ] && wayland-info >/dev/null 2>&1; then return 1; fi
  start_xvfb "$1" "$2"
}
