#!/usr/bin/env bash
# Runs setup_start_bench on the headless test desktop, with a tray host as Mevrik would find on
# a desktop, and the service pointed at a closed port so no request waits on the network.
#
#   bench/setup_start.sh BUILD_DIR [rounds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: bench/setup_start.sh BUILD_DIR [rounds]}" && pwd)
work=$(mktemp -d)
trap '"$root/e2e/desktop.sh" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$root/e2e/desktop.sh" start "$work" >/dev/null
. "$work/env.sh"
trayer --edge top --align right --widthtype pixel --width 120 --height 28 >"$work/trayer.log" 2>&1 &
echo "$! trayer" >>"$work/pids"
sleep 1
MEVRIK_SERVICE_URL=http://127.0.0.1:9 "$build/bench/setup_start_bench" "${2:-10}"
