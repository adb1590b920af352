#!/usr/bin/env bash
# vantic-ax when things go wrong: a stopped application, an application that quits during the
# walk, no frontmost application, no accessibility bus.
. "$(dirname "$0")/ax_lib.sh"

valid_document() {
  check 'assert {"app", "bundle", "window", "elements", "truncated", "visited", "ms"} <= set(d), d'
}

# Nothing on the desktop yet: no frontmost application.
snap
[ $status -eq 4 ] || fail "empty desktop: status $status"
[ "$(cat "$work/snap.json")" = '{"error":"no frontmost application"}' ] || fail "$(cat "$work/snap.json")"

# A stopped application: every request times out after 0.6 s; the run still ends within its
# budget plus three timeouts (and a little for the process start), with a document and status 0.
pid=$(launch -- gtk3-widget-factory)
kill -STOP "$pid"
start=$(date +%s%N)
snap
elapsed=$(awk -v a="$start" -v b="$(date +%s%N)" 'BEGIN { printf "%.3f", (b - a) / 1e9 }')
kill -CONT "$pid"
[ $status -eq 0 ] || fail "stopped application: status $status"
valid_document
echo "stopped application: ${elapsed}s"
awk -v e="$elapsed" 'BEGIN { exit !(e < 0.5 + 3 * 0.6 + 0.3) }' || fail "stopped application: ${elapsed}s"

# An application that quits while the walk runs (killed at different moments): no crash, and
# a document (or, once it is gone before the start, the no-frontmost line).
for delay in 0.02 0.08 0.15; do
  pid=$(launch --name "quitter" -- gtk3-widget-factory)
  status=0
  ("$VANTIC_AX" --budget 5 >"$work/snap.json") &
  runner=$!
  sleep "$delay"
  kill -KILL "$pid"
  wait "$runner" || status=$?
  case $status in
  0) valid_document ;;
  4) ;;
  *) fail "application quit after ${delay}s: status $status, $(cat "$work/snap.json")" ;;
  esac
done

# No accessibility bus at all: the not-trusted line, without touching any application.
snap_env -u AT_SPI_BUS_ADDRESS DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-such-bus" --
[ $status -eq 3 ] || fail "no bus: status $status"
check 'assert list(d) == ["error"] and "accessibility" in d["error"], d'
snap_env -u AT_SPI_BUS_ADDRESS DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-such-bus" -- --prompt
[ $status -eq 3 ] && [ "$(cat "$work/snap.json")" = '{"trusted":false}' ] || fail "no bus probe"
# The session bus answers but its accessibility bus address leads nowhere.
snap_env AT_SPI_BUS_ADDRESS="unix:path=$work/no-such-a11y-bus" --
[ $status -eq 3 ] || fail "unreachable accessibility bus: status $status"
# A Wayland session: positions would be wrong, so the run stops with a clear error (status 3).
# The switch would not help there, so --prompt answers the same way and does not claim to ask.
for args in "" --prompt; do
  snap_env WAYLAND_DISPLAY=wayland-0 XDG_CURRENT_DESKTOP=KDE -- $args
  [ $status -eq 3 ] || fail "wayland $args: status $status"
  check 'assert list(d) == ["error"] and d["error"].startswith("Wayland session") and "KDE" in d["error"], d'
done
echo "fault checks passed"
