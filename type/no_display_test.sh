#!/usr/bin/env bash
# Without a display a tool must not report work it did not do: it says why on standard error and
# exits 1, with nothing on standard output. Bad arguments still get the usage text and status 2.
# With MESSAGE_END, the message ends with it, and a Wayland session is refused the same way.
#
#   no_display_test.sh TOOL 'GOOD ARGS' 'BAD ARGS' [MESSAGE_END]   (word lists, split on spaces)
set -uo pipefail
tool=$1 good=$2 bad=$3 end=${4:-}
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
if [ -n "$end" ]; then
  refused "Wayland session: " WAYLAND_DISPLAY=wayland-0 DISPLAY="${DISPLAY:-:4095}"
  refused "Wayland session: " XDG_SESSION_TYPE=wayland DISPLAY="${DISPLAY:-:4095}"
fi

# shellcheck disable=SC2086
DISPLAY=:4095 "$tool" $bad >"$out" 2>"$err"
status=$?
[ $status -eq 2 ] || fail "bad arguments: status $status, not 2"
[ ! -s "$out" ] || fail "bad arguments: standard output not empty"
grep -q "^usage: $name " "$err" || fail "usage: $(cat "$err")"
echo "no-display checks of $name passed"
