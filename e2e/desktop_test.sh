#!/usr/bin/env bash
# The test desktop starts, runs an application that registers with AT-SPI, and stops leaving
# none of the processes it started behind (and none that it did not start stopped).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap '"$here/desktop.sh" stop "$dir"; rm -rf "$dir"' EXIT

# A bystander process that stop must leave alone.
sleep 60 &
bystander=$!

"$here/desktop.sh" start "$dir"
. "$dir/env.sh"
xdpyinfo >/dev/null
pid=$("$here/desktop.sh" launch "$dir" -- zenity --info --text "desktop check")
active=$(xdotool getactivewindow getwindowpid)
[ "$active" = "$pid" ] || { echo "active window belongs to $active, not $pid" >&2; exit 1; }

mapfile -t pids < <(awk '{print $1}' "$dir/pids")
[ ${#pids[@]} -ge 6 ] || { echo "expected Xvfb, buses, openbox, registry and zenity in pids" >&2; exit 1; }
"$here/desktop.sh" stop "$dir"
for p in "${pids[@]}"; do
  if kill -0 "$p" 2>/dev/null; then echo "pid $p survived stop" >&2; exit 1; fi
done
kill -0 "$bystander" || { echo "stop ended a process it did not start" >&2; exit 1; }
kill "$bystander"
echo "desktop check passed"
