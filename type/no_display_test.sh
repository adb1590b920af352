#!/usr/bin/env bash
# Without a display a tool must not report work it did not do: it says why on standard error and
# exits 1, with nothing on standard output. Bad arguments still get the usage text and status 2.
# The message ends with MESSAGE_END, and a Wayland session the tool cannot serve is refused the
# same way (XWayland's display is no stand-in: it reaches no Wayland window).
#
#   no_display_test.sh TOOL 'GOOD ARGS' 'BAD ARGS' MESSAGE_END   (word lists, split on spaces)
set -uo pipefail
tool=$1 good=$2 bad=$3 end=$4
name=$(basename "$tool")
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# refused WHY ENV...: the good arguments end with status 1, nothing on standard output and WHY.
refused() {
  local why=$1
  shift
  # shellcheck disable=SC2086
  env "$@" "$tool" $good >"$out" 2>"$err"
  status=$?
  [ $status -eq 1 ] || fail "$*: status $status, not 1"
  [ ! -s "$out" ] || fail "$*: standard output not empty: $(cat "$out")"
  grep -q "^$name: $why.*$end\$" "$err" || fail "$*: $(cat "$err")"
}
refused "cannot open the X display " DISPLAY=
refused "cannot open the X display " DISPLAY=:4095
refused "Wayland session: " WAYLAND_DISPLAY=wayland-0 DISPLAY="${DISPLAY:-:4095}"
# GNOME Shell is refused, or served through the session bus, which is missing here.
refused ".*GNOME Shell" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME \
  DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent DISPLAY="${DISPLAY:-:4095}"

# shellcheck disable=SC2086
DISPLAY=:4095 "$tool" $bad >"$out" 2>"$err"
status=$?
[ $status -eq 2 ] || fail "bad arguments: status $status, not 2"
[ ! -s "$out" ] || fail "bad arguments: standard output not empty"
grep -q "^usage: $name " "$err" || fail "usage: $(cat "$err")"
echo "no-display checks of $name passed"
