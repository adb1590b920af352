#!/usr/bin/env bash
# Runs a command inside a private headless Wayland session, as a plain user (compositors refuse
# or misbehave as root): its own session bus, XDG_RUNTIME_DIR and accessibility bus.
#
#   wayland_session.sh sway|kwin CMD ARGS...
#
# With MEVRIK_WAYLAND_SEAT naming the wayland_seat program, a virtual pointer and keyboard stay on
# the seat for the session's life.
# Must start as root: it creates the user mevrik-wayland once (useradd) and drops to it. Inside,
# CMD finds WAYLAND_DISPLAY, SWAYSOCK (sway) and a session bus.
# Exits 77 (a skipped test) when it cannot run here: not root, or the compositor not installed.
set -euo pipefail
compositor=$1
shift
user=mevrik-wayland

if [ "${MEVRIK_WAYLAND_INSIDE:-}" != 1 ]; then
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to create the test user" >&2; exit 77; }
  program=$compositor
  [ "$compositor" != kwin ] || program=kwin_wayland
  command -v "$program" >/dev/null || { echo "SKIP: $program is not installed" >&2; exit 77; }
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
  base=$(mktemp -d /tmp/mevrik-wayland.XXXXXX)
  chown "$user:" "$base"
  chmod 700 "$base"
  # The stock session configuration names service directories: its bus would start portals,
  # volume monitors and online accounts for the first GTK application, which then waits for
  # them and shares the processor with them. This bus starts nothing by itself, as the X11 test
  # desktop's does.
  cat >"$base/session.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=$base</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  status=0
  runuser -u "$user" -- env -i PATH="$PATH" HOME="/home/$user" LANG=C.UTF-8 \
    MEVRIK_WAYLAND_INSIDE=1 MEVRIK_WAYLAND_BASE="$base" MEVRIK_WAYLAND_KEEP="${MEVRIK_WAYLAND_KEEP:-}" \
    MEVRIK_WAYLAND_SEAT="${MEVRIK_WAYLAND_SEAT:-}" \
    dbus-run-session --config-file="$base/session.conf" -- "$0" "$compositor" "$@" || status=$?
  rm -rf "$base"
  exit $status
fi

base=$MEVRIK_WAYLAND_BASE
export XDG_RUNTIME_DIR=$base/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# Toolkits register on the accessibility bus, which they find through org.a11y.Bus.
export NO_AT_BRIDGE=0 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 GTK_A11Y=atspi
/usr/libexec/at-spi-bus-launcher --launch-immediately --a11y=1 &
pids+=($!)

wait_for() {  # wait_for SECONDS CMD...: until CMD succeeds
  local end=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do
    [ $SECONDS -lt "$end" ] || return 1
    sleep 0.05
  done
}

case $compositor in
sway)
  # XWayland starts with the first X11 client, so a session without one does not pay for it.
  cat >"$base/sway.conf" <<CONF
output HEADLESS-1 resolution 1280x800 position 0 0
xwayland enable
default_border pixel 2
CONF
  WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway -c "$base/sway.conf" >"$base/sway.log" 2>&1 &
  pids+=($!)
  # Both sockets appear once sway is ready for clients.
  ready() { compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock" && compgen -G "$XDG_RUNTIME_DIR/wayland-?"; }
  wait_for 10 ready >/dev/null || { cat "$base/sway.log" >&2; exit 1; }
  SWAYSOCK=$(compgen -G "$XDG_RUNTIME_DIR/sway-ipc.*.sock")
  WAYLAND_DISPLAY=$(basename "$(compgen -G "$XDG_RUNTIME_DIR/wayland-?")")
  export SWAYSOCK WAYLAND_DISPLAY XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway
  ;;
kwin)
  # kwin_wayland carries a file capability (cap_sys_resource), which a container may forbid to
  # exec; a copy has none. Its Qt platform plugin loads only in a process named kwin_wayland.
  mkdir "$base/kwin"
  cp "$(command -v kwin_wayland)" "$base/kwin/kwin_wayland"
  # Restricted interfaces (fake input, screenshots) go to the programs whose desktop entries
  # ask for them; CMD may write such entries under $XDG_DATA_HOME/applications before it runs
  # them (KWin reads them when a client binds).
  export XDG_DATA_HOME=$base/data
  mkdir -p "$XDG_DATA_HOME/applications"
  # KWin's settings (kxkbrc, which vantic-type changes for a run) belong to this session alone:
  # the user's home outlives it.
  export XDG_CONFIG_HOME=$base/config
  mkdir -m 700 "$XDG_CONFIG_HOME"
  "$base/kwin/kwin_wayland" --virtual --no-lockscreen --no-global-shortcuts --socket wayland-k \
    --width 1280 --height 800 >"$base/kwin.log" 2>&1 &
  pids+=($!)
  ready() { [ -S "$XDG_RUNTIME_DIR/wayland-k" ] && dbus-send --session --print-reply \
    --dest=org.kde.KWin /KWin org.freedesktop.DBus.Peer.Ping >/dev/null; }
  wait_for 60 ready || { cat "$base/kwin.log" >&2; exit 1; }
  export WAYLAND_DISPLAY=wayland-k XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE
  ;;
*)
  echo "unknown compositor: $compositor" >&2
  exit 2
  ;;
esac
export GDK_BACKEND=wayland QT_QPA_PLATFORM=wayland
unset DISPLAY
# A pointer and a keyboard on the seat, as on a desktop with a mouse and a keyboard.
if [ -n "${MEVRIK_WAYLAND_SEAT:-}" ]; then
  coproc seat { "$MEVRIK_WAYLAND_SEAT"; }
  pids+=($!)
  read -r -t 10 ready <&"${seat[0]}" && [ "$ready" = ready ] || { echo "the seat helper failed" >&2; exit 1; }
fi
export MEVRIK_WAYLAND_BASE=$base
"$@"
