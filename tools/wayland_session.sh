# A private headless Wayland session: sway on the headless backend with the
# pixman renderer, PipeWire, WirePlumber and a D-Bus session bus, all as the
# user nobody (sway will not run as root), in a runtime folder of its own.
#
# With PELLIX_PORTAL_BACKEND naming an xdg-desktop-portal-wlr binary (the one
# tools/portal/build_backend.sh builds), the session also serves the
# screencast portal: that backend is started before the session counts as
# ready, and D-Bus starts xdg-desktop-portal when a client first calls it.
# Its output chooser runs $XDG_RUNTIME_DIR/chooser, which counts its runs in
# chooser-runs and answers the contents of chooser-answer there (an empty file
# cancels), else HEADLESS-1. Restore tokens are kept ("permanent").
#
# Sourced by the demo and the bench scripts:
#   start_wayland_session WIDTH HEIGHT   exports WAYLAND_DISPLAY, XDG_RUNTIME_DIR,
#                                        SWAYSOCK and DBUS_SESSION_BUS_ADDRESS
#                                        once the screen shows
#   stop_wayland_session                 stops every process of the session
# Run by the end-to-end tests:
#   bash tools/wayland_session.sh WIDTH HEIGHT
#     prints NAME=VALUE lines and "ready", then stops the session when its
#     standard input ends or it gets SIGTERM.
#
# The background is #336699 and the output is named HEADLESS-1. Windows whose
# app id begins with "pellix-" float at their own size.

wayland_session_background=336699

start_wayland_session() {  # start_wayland_session WIDTH HEIGHT
  local folder
  # Short: the socket paths inside must fit a sockaddr_un.
  folder=$(mktemp -d /tmp/pxw-XXXXXX) || return 1
  mkdir -p "$folder/config/sway" "$folder/home"
  cat >"$folder/config/sway/config" <<EOF
output HEADLESS-1 resolution $1x$2 position 0,0 bg #$wayland_session_background solid_color
xwayland disable
default_border none
default_floating_border none
# Test windows float at the size they choose, never tiled first.
for_window [app_id="^pellix-"] floating enable
exec dbus-update-activation-environment WAYLAND_DISPLAY XDG_CURRENT_DESKTOP=sway && printf 'WAYLAND_DISPLAY=%s\nSWAYSOCK=%s\n' "\$WAYLAND_DISPLAY" "\$SWAYSOCK" >$folder/sway.env.new && mv $folder/sway.env.new $folder/sway.env
EOF
  printf '[screencast]\nchooser_type=simple\nchooser_cmd=%s/chooser\n' "$folder" >"$folder/portal.conf"
  cat >"$folder/chooser" <<EOF
#!/bin/sh
echo ran >>$folder/chooser-runs
if [ -f $folder/chooser-answer ]; then cat $folder/chooser-answer; else echo HEADLESS-1; fi
EOF
  chmod 755 "$folder/chooser"
  chmod 700 "$folder"
  local run=()
  if [ "$(id -u)" -eq 0 ]; then
    chown -R 65534:65534 "$folder"
    run=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  # PipeWire first; WirePlumber only once its socket is there (else it exits
  # and streams never link); sway; the portal's backend once sway has said
  # where it listens, started here so that it stays in the session's process
  # group (what sway starts leaves it), and owning its name before anyone
  # asks, which keeps D-Bus from starting the system's copy.
  setsid "${run[@]}" env -i PATH=/usr/local/bin:/usr/bin:/bin HOME="$folder/home" XDG_RUNTIME_DIR="$folder" \
    XDG_CONFIG_HOME="$folder/config" WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    PORTAL="${PELLIX_PORTAL_BACKEND:-}" dbus-run-session -- sh -c '
      wait_for() { i=0; until eval "$1"; do i=$((i + 1)); [ $i -lt 1000 ] || exit 1; sleep 0.01; done; }
      pipewire >"$XDG_RUNTIME_DIR/pipewire.log" 2>&1 &
      echo $! >"$XDG_RUNTIME_DIR/pipewire.pid"
      wait_for "[ -S \"\$XDG_RUNTIME_DIR/pipewire-0\" ]"
      wireplumber >"$XDG_RUNTIME_DIR/wireplumber.log" 2>&1 &
      sway >"$XDG_RUNTIME_DIR/sway.log" 2>&1 &
      wait_for "[ -f \"\$XDG_RUNTIME_DIR/sway.env\" ]"
      . "$XDG_RUNTIME_DIR/sway.env"
      if [ -n "$PORTAL" ]; then
        WAYLAND_DISPLAY=$WAYLAND_DISPLAY XDPW_PERSIST_MODE=permanent "$PORTAL" -c "$XDG_RUNTIME_DIR/portal.conf" \
          >"$XDG_RUNTIME_DIR/portal.log" 2>&1 &
        echo $! >"$XDG_RUNTIME_DIR/portal.pid"
        wait_for "dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
          org.freedesktop.DBus.NameHasOwner string:org.freedesktop.impl.portal.desktop.wlr 2>/dev/null | grep -q true"
      fi
      printf "WAYLAND_DISPLAY=%s\nSWAYSOCK=%s\nDBUS_SESSION_BUS_ADDRESS=%s\n" "$WAYLAND_DISPLAY" "$SWAYSOCK" \
        "$DBUS_SESSION_BUS_ADDRESS" >"$XDG_RUNTIME_DIR/env.new" && mv "$XDG_RUNTIME_DIR/env.new" "$XDG_RUNTIME_DIR/env"
      wait' </dev/null >/dev/null 2>&1 &
  wayland_session_pid=$!
  wayland_session_dir=$folder
  export XDG_RUNTIME_DIR=$folder
  # Ready when sway has said where it listens and a 1x1 screenshot of the
  # corner shows the background (the background is a client of its own).
  local pixel
  for _ in $(seq 1000); do
    if [ -f "$folder/env" ]; then
      export WAYLAND_DISPLAY SWAYSOCK DBUS_SESSION_BUS_ADDRESS
      WAYLAND_DISPLAY=$(sed -n 's/^WAYLAND_DISPLAY=//p' "$folder/env")
      SWAYSOCK=$(sed -n 's/^SWAYSOCK=//p' "$folder/env")
      DBUS_SESSION_BUS_ADDRESS=$(sed -n 's/^DBUS_SESSION_BUS_ADDRESS=//p' "$folder/env")
      pixel=$(grim -g "0,0 1x1" -t ppm - 2>/dev/null | tail -c 3 | od -An -tx1 | tr -d ' \n')
      [ "$pixel" = "$wayland_session_background" ] && return 0
    fi
    kill -0 "$wayland_session_pid" 2>/dev/null || break
    sleep 0.02
  done
  echo "the Wayland session did not start; its logs are in $folder" >&2
  return 1
}

stop_wayland_session() {
  [ -n "${wayland_session_pid:-}" ] || return 0
  # The whole process group; its members' zombies are for PID 1 to reap.
  # (Callers may run under set -e: a group already gone is no failure.)
  kill -TERM -- "-$wayland_session_pid" 2>/dev/null || true
  for _ in $(seq 250); do
    # (no early-ending grep: under pipefail its broken pipe would end the wait)
    [ -n "$(ps -o stat= --sid "$wayland_session_pid" 2>/dev/null | grep -v '^Z' || true)" ] || break
    sleep 0.02
  done
  kill -KILL -- "-$wayland_session_pid" 2>/dev/null || true
  wait "$wayland_session_pid" 2>/dev/null || true
  rm -rf "$wayland_session_dir"
  wayland_session_pid=
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  trap stop_wayland_session EXIT
  trap 'exit 0' TERM INT
  start_wayland_session "$1" "$2" || exit 1
  printf 'XDG_RUNTIME_DIR=%s\nWAYLAND_DISPLAY=%s\nSWAYSOCK=%s\nDBUS_SESSION_BUS_ADDRESS=%s\nready\n' \
    "$XDG_RUNTIME_DIR" "$WAYLAND_DISPLAY" "$SWAYSOCK" "$DBUS_SESSION_BUS_ADDRESS"
  # Until the caller lets go of our standard input.
  while read -r _; do :; done
fi
