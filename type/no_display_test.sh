#!/usr/bin/env bash
# Without a display a tool must not report work it did not do: it says why on standard error and
# exits 1, with nothing on standard output. Bad arguments still get the usage text and status 2.
#
#   no_display_test.sh TOOL 'GOOD ARGS' 'BAD ARGS'    (each a word list, split on spaces)
set -uo pipefail
tool=$1 good=$2 bad=$3
name=$(basename "$tool")
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for display in "" ":4095"; do
  # shellcheck disable=SC2086
  DISPLAY=$display "$tool" $good >"$out" 2>"$err"
  status=$?
  [ $status -eq 1 ] || fail "DISPLAY='$display': status $status, not 1"
  [ ! -s "$out" ] || fail "DISPLAY='$display': standard output not empty: $(cat "$out")"
  grep -q "^$name: cannot open the X display " "$err" || fail "DISPLAY='$display': $(cat "$err")"
done

# shellcheck disable=SC2086
DISPLAY=:4095 "$tool" $bad >"$out" 2>"$err"
status=$?
[ $status -eq 2 ] || fail "bad arguments: status $status, not 2"
[ ! -s "$out" ] || fail "bad arguments: standard output not empty"
grep -q "^usage: $name " "$err" || fail "usage: $(cat "$err")"
echo "no-display checks of $name passed"
