#!/usr/bin/env bash
# Runs a command inside a private headless GNOME Shell session (Wayland, no X11, two monitors:
# 1280x800 and 2560x1600), as a plain user:
# its own system bus, session bus, XDG_RUNTIME_DIR, home and accessibility bus, with Mevrik's
# shell extension installed by the product's script before the shell starts.
#
#   gnome_session.sh CMD ARGS...
#
# Inside, CMD finds WAYLAND_DISPLAY, XDG_CURRENT_DESKTOP=GNOME, the extension answering on the
# session bus, GDK_BACKEND and QT_QPA_PLATFORM set to wayland, and in $MEVRIK_GNOME_BASE the
# installer's output (installer.out) and the shell's log (session.log).
# Must start as root: it creates the user mevrik-gnome once (GNOME Shell misbehaves as root) and
# drops to it. GNOME Shell's login-manager code needs a system bus, so the session gets a private
# one in its own mount namespace. Exits 77 (skipped) when it cannot run here.
set -euo pipefail
user=mevrik-gnome
self=$(readlink -f "$0")
repo=$(dirname "$(dirname "$self")")

case ${MEVRIK_GNOME_STAGE:-} in
"")
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to create the test user" >&2; exit 77; }
  command -v gnome-shell >/dev/null || { echo "SKIP: gnome-shell is not installed" >&2; exit 77; }
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
  MEVRIK_GNOME_STAGE=system-bus exec unshare -m --propagation private "$self" "$@"
  ;;
system-bus)
  mount -t tmpfs tmpfs /run/systemd
  mount -t tmpfs tmpfs /run/dbus
  bus_pid=$(dbus-daemon --system --fork --print-pid 2>/dev/null)
  # Each run has a home of its own, so runs side by side do not share settings and the
  # installer starts from nothing.
  base=$(mktemp -d /tmp/mevrik-gnome.XXXXXX)
  mkdir "$base/home"
  chown "$user:" "$base" "$base/home"
  chmod 700 "$base"
  install -o "$user" -m 600 /dev/null "$base/session.log"
  # The session bus starts only the settings store and the accessibility bus: the shell asks for
  # calendars, online accounts, volume monitors and more, which would only slow its start.
  mkdir "$base/services"
  cp /usr/share/dbus-1/services/{ca.desrt.dconf,org.a11y.Bus}.service "$base/services/"
  cat >"$base/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <servicedir>$base/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF
  status=0
  # The session's services write much to standard output and error, which go to the log; the
  # command's own output goes to fds 3 and 4.
  runuser -u "$user" -- env -i PATH="$PATH" HOME="$base/home" LANG=C.UTF-8 \
    MEVRIK_GNOME_STAGE=session MEVRIK_GNOME_BASE="$base" MEVRIK_REPO="$repo" \
    MEVRIK_GNOME_KEEP="${MEVRIK_GNOME_KEEP:-}" \
    dbus-run-session --config-file="$base/session.conf" -- "$self" "$@" \
    3>&1 4>&2 >"$base/session.log" 2>&1 || status=$?
  kill "$bus_pid"
  # The shell starts an input method daemon that outlives the session bus: end what this session
  # started, found by its runtime folder, and nothing else the user runs.
  for environ in /proc/[0-9]*/environ; do
    if grep -qzx "XDG_RUNTIME_DIR=$base/run" "$environ" 2>/dev/null; then
      pid=${environ#/proc/}
      kill "${pid%/environ}" 2>/dev/null || true
    fi
  done
  [ -z "${MEVRIK_GNOME_KEEP:-}" ] || cp "$base/session.log" "$MEVRIK_GNOME_KEEP-session.log"
  rm -rf "$base"
  exit $status
  ;;
esac

exec 1>&3 2>&4 3>&- 4>&-
base=$MEVRIK_GNOME_BASE
export XDG_RUNTIME_DIR=$base/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
wait_for() {  # wait_for SECONDS CMD...: until CMD succeeds
  local end=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt "$end" ] || return 1
    sleep 0.1
  done
}

# Toolkits register on the accessibility bus, which GNOME switches on from this setting.
gsettings set org.gnome.desktop.interface toolkit-accessibility true
export NO_AT_BRIDGE=0 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 GTK_A11Y=atspi
bash "$MEVRIK_REPO/scripts/install_gnome_extension.sh" >"$base/installer.out" ||
  { cat "$base/installer.out" >&2; echo "the extension's installer failed" >&2; exit 1; }
started=$SECONDS
gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 --virtual-monitor 2560x1600 >>"$base/session.log" 2>&1 &
pids+=($!)
extension() {
  gdbus call --session --dest com.fennick.Mevrik.Shell --object-path /com/fennick/Mevrik/Shell \
    --method com.fennick.Mevrik.Shell.GetPointer
}
if ! wait_for 60 extension || [ ! -S "$XDG_RUNTIME_DIR/wayland-0" ]; then
  echo "GNOME Shell did not start with the extension; its log ends:" >&2
  tail -n 30 "$base/session.log" >&2
  exit 1
fi
echo "GNOME Shell and the extension answered after $((SECONDS - started)) s"
export WAYLAND_DISPLAY=wayland-0 XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
export GDK_BACKEND=wayland QT_QPA_PLATFORM=wayland
unset DISPLAY
"$@"
