#!/usr/bin/env bash
# When the X server goes away in the middle of an action, vantic-click says so on standard error
# and exits 1, instead of printing a report for events that were never delivered.
set -euo pipefail
tool=${1:?usage: click_lost_display_test.sh VANTIC_CLICK}
dir=$(mktemp -d)
xvfb=""
trap '[ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true; rm -rf "$dir"' EXIT

Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$dir/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 200); do grep -q '[0-9]' "$dir/display" && break; sleep 0.05; done
export DISPLAY=":$(tr -dc 0-9 <"$dir/display")"

# A drag takes about 170 ms of fixed waits; the server goes away after the first steps.
status=0
"$tool" 10 10 drag 600 400 >"$dir/out" 2>"$dir/err" &
click=$!
# Wait until the tool holds its connection (a socket descriptor), so that a slow start under a
# loaded machine still meets the server, then let the first steps go out.
for _ in $(seq 400); do
  ls -l "/proc/$click/fd" 2>/dev/null | grep -q 'socket:' && break
  sleep 0.01
done
sleep 0.04
kill "$xvfb"
wait "$xvfb" 2>/dev/null || true
xvfb=""
wait "$click" || status=$?

[ "$status" -eq 1 ] || { echo "status $status, expected 1" >&2; cat "$dir/out" "$dir/err" >&2; exit 1; }
[ ! -s "$dir/out" ] || { echo "a report was printed: $(cat "$dir/out")" >&2; exit 1; }
grep -q '^vantic-click: lost the connection to the X display' "$dir/err" ||
  { echo "unexpected message: $(cat "$dir/err")" >&2; exit 1; }
echo "lost display check passed"
