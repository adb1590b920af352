#!/usr/bin/env bash
# Runs click_bench on a fresh test desktop. Build without the sanitizers first, e.g.
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release && cmake --build build/release
#   bench/click_bench.sh build/release [--runs N] [--baseline OTHER_VANTIC_CLICK]...
# A --baseline build (say, one of main before a change) runs in the same rotation.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: click_bench.sh BUILD_DIR [click_bench options]}
shift
dir=$(mktemp -d)
trap '"$root/e2e/desktop.sh" stop "$dir"; rm -rf "$dir"' EXIT
"$root/e2e/desktop.sh" start "$dir"
. "$dir/env.sh"
"$build/bench/click_bench" "$@"
