#!/usr/bin/env bash
# Runs mcp_bench on a fresh test desktop with gtk3-widget-factory in front (the snapshot walks
# it; the clicks go to an empty corner). Build without the sanitizers first, e.g.
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/release
#   bench/mcp_bench.sh build/release [--runs N] [--at X Y]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: mcp_bench.sh BUILD_DIR [mcp_bench options]}
shift
dir=$(mktemp -d)
trap '"$root/e2e/desktop.sh" stop "$dir"; rm -rf "$dir"' EXIT
"$root/e2e/desktop.sh" start "$dir"
. "$dir/env.sh"
"$root/e2e/desktop.sh" launch "$dir" -- gtk3-widget-factory >/dev/null
# Clicks go to the bottom-right corner of the screen, away from the window, unless --at says where.
size=$(xdpyinfo | awk '/dimensions:/ {print $2}')
"$build/bench/mcp_bench" --at "$((${size%x*} - 5))" "$((${size#*x} - 5))" "$@"
