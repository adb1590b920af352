#!/bin/bash
# Mevrik's GNOME Shell extension in a real headless GNOME Shell: installed by the product's
# script, it lists a native Wayland GTK window with its pid and frame, activates it and answers
# the pointer query over D-Bus; with the gnome_shell_client program as argument, desktop/gnome's
# client reads the same through it; with a build folder, gnome_input_checks.sh clicks and types
# with that build's tools.
#
#   gnome_extension_test.sh [GNOME_SHELL_CLIENT [BUILD_DIR]]
#
# Must start as root: it creates the user mevrik-gnome once and runs the session as that user
# (GNOME Shell misbehaves as root). GNOME Shell's login-manager code needs a system bus, so the
# session gets a private one in its own mount namespace. Exits 77 (skipped) when it cannot run.
set -euo pipefail
user=mevrik-gnome
self=$(readlink -f "$0")
repo=$(dirname "$(dirname "$self")")

case ${1:-} in
--system-bus | --session) ;;
*)
  client=${1:+$(readlink -f "$1")}
  build=${2:+$(readlink -f "$2")}
  [ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root to create the test user" >&2; exit 77; }
  command -v gnome-shell >/dev/null || { echo "SKIP: gnome-shell is not installed" >&2; exit 77; }
  id "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
  # A fresh home each run: the installer must enable the extension from nothing.
  rm -rf "/home/$user/.local/share/gnome-shell" "/home/$user/.config/dconf"
  exec unshare -m --propagation private "$self" --system-bus "$client" "$build"
  ;;
esac
case $1 in
--system-bus)
  mount -t tmpfs tmpfs /run/systemd
  mount -t tmpfs tmpfs /run/dbus
  bus_pid=$(dbus-daemon --system --fork --print-pid 2>/dev/null)
  base=$(mktemp -d /tmp/mevrik-gnome.XXXXXX)
  chown "$user:" "$base"
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
  # The session's services write much to standard output and error, which go to a log; the
  # check's own lines go to fds 3 and 4.
  runuser -u "$user" -- env -i PATH="$PATH" HOME="/home/$user" LANG=C.UTF-8 BASE="$base" \
    REPO="$repo" CLIENT="$2" BUILD="$3" dbus-run-session --config-file="$base/session.conf" -- "$self" --session \
    3>&1 4>&2 >"$base/session.log" 2>&1 || status=$?
  kill "$bus_pid"
  # The shell starts an input method daemon that outlives the session bus; nothing else runs as
  # this user.
  pkill -u "$user" || true
  rm -rf "$base"
  exit $status
  ;;
esac

exec 1>&3 2>&4 3>&- 4>&-
export XDG_RUNTIME_DIR=$BASE/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
pids=()
log=$BASE/session.log
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  echo "--- the session's log (tail)" >&2
  tail -n 30 "$log" >&2
  exit 1
}
wait_for() {  # wait_for SECONDS CMD...: until CMD succeeds
  local end=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do
    [ $SECONDS -lt "$end" ] || return 1
    sleep 0.1
  done
}
shell() {  # shell METHOD ARGS...: calls the extension and prints the reply
  local method=$1
  shift
  gdbus call --session --dest com.fennick.Mevrik.Shell --object-path /com/fennick/Mevrik/Shell \
    --method "com.fennick.Mevrik.Shell.$method" "$@"
}
json() {  # json PYTHON-EXPRESSION: evaluates it with w = the reply's JSON, read from stdin
  python3 -c 'import ast, json, sys; w = json.loads(ast.literal_eval(sys.stdin.read())[0]); print('"$1"')'
}

installed=$(bash "$REPO/scripts/install_gnome_extension.sh") || fail "the installer failed"
started=$SECONDS
echo "$installed"
grep -q "^added the extension to org.gnome.shell enabled-extensions$" <<<"$installed" ||
  fail "the installer did not enable the extension"

gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x800 >>"$log" 2>&1 &
pids+=($!)
wait_for 30 shell GetPointer >/dev/null || fail "the extension did not answer on the session bus"
[ -S "$XDG_RUNTIME_DIR/wayland-0" ] || fail "no wayland-0 socket"
echo "$((SECONDS - started)) s until the extension answered"

WAYLAND_DISPLAY=wayland-0 GDK_BACKEND=wayland gtk3-widget-factory >>"$log" 2>&1 &
app=$!
pids+=("$app")
# Mutter lists a window from its creation; its frame has a size once the client has drawn it.
shown() { [ "$(shell ListWindows | json "[x['frame']['width'] > 0 for x in w if x['pid'] == $app]")" = "[True]" ]; }
wait_for 20 shown || fail "the window list did not name gtk3-widget-factory (pid $app) with a size"
echo "$((SECONDS - started)) s until the window was listed with its size"
windows=$(shell ListWindows)
echo "ListWindows: $windows"
# One window, of the application's pid, with its frame on the 1280x800 monitor inside its buffer.
check=$(json "
[x for x in w if x['pid'] == $app] and all(
  x['app_id'] and x['title'] and not x['minimized']
  and x['workspace'] == 0 and x['frame']['width'] > 200 and x['frame']['height'] > 200
  and x['frame']['x'] >= 0 and x['frame']['y'] >= 0
  and x['frame']['x'] + x['frame']['width'] <= 1280 + 200
  and x['buffer']['x'] <= x['frame']['x'] and x['buffer']['width'] >= x['frame']['width']
  for x in w if x['pid'] == $app)" <<<"$windows")
[ "$check" = True ] || fail "implausible record for gtk3-widget-factory"
id=$(json "[x for x in w if x['pid'] == $app][0]['id']" <<<"$windows")

reply=$(shell Activate "$id")
[ "$reply" = "(true,)" ] || fail "Activate($id) answered $reply"
focused() { [ "$(shell FocusedWindow | json "w and w['id']")" = "$id" ]; }
wait_for 5 focused || fail "Activate($id) did not focus the window: $(shell FocusedWindow)"
[ "$(shell ListWindows | json "[x['focused'] for x in w if x['id'] == $id][0]")" = True ] ||
  fail "the window list does not mark the window focused"
[ "$(shell Activate 999999)" = "(false,)" ] || fail "Activate of an unknown id did not say false"

# Run again in the running session, the installer finds the extension running.
again=$(bash "$REPO/scripts/install_gnome_extension.sh") || fail "the second installation failed"
grep -qx "the extension is running" <<<"$again" || fail "the second installation said: $again"

if [ -n "$CLIENT" ]; then
  read -r -d '' -a got < <("$CLIENT" "$app") || true
  echo "gnome_shell_client: ${got[*]}"
  # The window may still grow after it is first listed: its origins hold, its size need not.
  origins=$(json "' '.join(str(v) for x in w if x['id'] == $id for v in (x['frame']['x'], x['frame']['y'], x['buffer']['x'], x['buffer']['y']))" <<<"$windows")
  [ "${got[*]:0:3} ${got[*]:5:2}" = "$id $origins" ] && [ "${got[3]:-0}" -gt 200 ] &&
    [ "${got[4]:-0}" -gt 200 ] && [ "${got[*]:7}" = "focused $id pointer ${got[10]:-} ${got[11]:-}" ] ||
    fail "desktop/gnome's client read: ${got[*]}"
fi

if [ -n "$BUILD" ]; then
  bash "$REPO/e2e/gnome_input_checks.sh" "$BUILD" "$app" || fail "the pointer and key checks failed"
fi

pointer=$(shell GetPointer)
[[ $pointer =~ ^\(([0-9]+),\ ([0-9]+)\)$ ]] && [ "${BASH_REMATCH[1]}" -le 1280 ] &&
  [ "${BASH_REMATCH[2]}" -le 800 ] || fail "GetPointer answered $pointer"
echo "GetPointer: $pointer"
echo "$((SECONDS - started)) s from the shell's start to the last check"
echo "PASS: the extension lists, focuses and locates on $(gnome-shell --version)"
