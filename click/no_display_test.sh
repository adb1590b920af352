#!/usr/bin/env bash
# Without a display vantic-click must not report an action: it says why on standard error and
# exits 1. Bad arguments still get the usage text and status 2 first.
set -uo pipefail
tool=$1
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for display in "" ":4095"; do
  DISPLAY=$display "$tool" 10 20 double >"$out" 2>"$err"
  status=$?
  [ $status -eq 1 ] || fail "DISPLAY='$display': status $status, not 1"
  [ ! -s "$out" ] || fail "DISPLAY='$display': standard output not empty: $(cat "$out")"
  grep -q "^vantic-click: cannot open the X display .*no pointer action was performed$" "$err" ||
    fail "DISPLAY='$display': message: $(cat "$err")"
done

# A Wayland session: X11 input would not reach its windows, so nothing is done, whatever DISPLAY.
for session in "WAYLAND_DISPLAY=wayland-0" "XDG_SESSION_TYPE=wayland"; do
  env "$session" DISPLAY="${DISPLAY:-:4095}" "$tool" 10 20 >"$out" 2>"$err"
  status=$?
  [ $status -eq 1 ] && [ ! -s "$out" ] || fail "$session: status $status, $(cat "$out")"
  grep -q "^vantic-click: Wayland session: .*no pointer action was performed$" "$err" ||
    fail "$session: message: $(cat "$err")"
done

DISPLAY=:4095 "$tool" 10 >"$out" 2>"$err"
status=$?
[ $status -eq 2 ] || fail "bad arguments: status $status, not 2"
[ ! -s "$out" ] || fail "bad arguments: standard output not empty"
[ "$(cat "$err")" = "usage: vantic-click x y [left|right|double]" ] || fail "usage: $(cat "$err")"
echo "no-display checks passed"
