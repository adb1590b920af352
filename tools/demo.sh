#!/usr/bin/env bash
# The main job, until the desktop backend lands: sets up the machine, builds a Release tree and
# prints the snapshot of the bundled text editor scene exactly as vantic-ax prints it (one line
# of JSON), followed by its exit status on standard error.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MEVRIK_DEMO_BUILD_DIR:-$root/build/release}

"$root/tools/setup-debian.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j 2 --target vantic-ax-replay >/dev/null

status=0
"$build/ax/vantic-ax-replay" "$root/ax/scenes/text_editor.json" "$@" || status=$?
echo "exit status $status" >&2
exit "$status"
