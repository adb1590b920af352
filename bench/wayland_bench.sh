#!/usr/bin/env bash
# The tools under headless sway beside X11, in one run (needs root: the sway session runs as a
# user it creates; see e2e/wayland_session.sh):
# - vantic-ax on gtk3-widget-factory's window on the private X11 desktop and under sway;
# - under sway, vantic-click moving the pointer, and one key typed by vantic-type and by wtype, a
#   one-shot virtual-keyboard client (no such pointer client is packaged: ydotool needs a daemon
#   with /dev/uinput).
#   bench/wayland_bench.sh BUILD_DIR [ROUNDS]
# Prints the median and best process times in ms.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

# times NAME CMD...: runs CMD ROUNDS times, appends "NAME ms" lines to $out.
times() {
  local name=$1 t
  shift
  for _ in $(seq "$rounds"); do
    t=${EPOCHREALTIME/[.,]/}
    "$@" >/dev/null
    echo "$name $(((${EPOCHREALTIME/[.,]/} - t) / 1000))" >>"$out"
  done
}

if [ "${1:-}" = --inside-sway ]; then
  # Inside the sway session (second invocation): $2 the build folder, $3 the rounds, $4 the file.
  build=$2 rounds=$3 out=$4
  gtk3-widget-factory >/dev/null 2>&1 &
  for _ in $(seq 200); do swaymsg -t get_tree | grep -q '"pid"' && break; sleep 0.1; done
  sleep 1
  times "vantic-ax (sway)" "$build/ax/vantic-ax" --budget 10
  "$build/ax/vantic-ax" --budget 10 >"$out.sway.json"
  times "vantic-click move (sway)" "$build/click/vantic-click" 300 300 move
  times "vantic-type key Right (sway)" "$build/type/vantic-type" key Right
  times "wtype -k Right (sway)" wtype -k Right
  exit 0
fi

build=$(cd "${1:?usage: wayland_bench.sh BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-15}
out=$(mktemp /tmp/mevrik-wayland-bench.XXXXXX)
chmod 666 "$out"
work=$(mktemp -d)
trap '"$here/../e2e/desktop.sh" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work" "$out"*' EXIT
touch "$out.sway.json" && chmod 666 "$out.sway.json"
"$here/../e2e/desktop.sh" start "$work"
(
  . "$work/env.sh"
  "$here/../e2e/desktop.sh" launch "$work" -- gtk3-widget-factory >/dev/null
  sleep 1
  times "vantic-ax (X11)" "$build/ax/vantic-ax" --budget 10
  "$build/ax/vantic-ax" --budget 10 >"$out.x11.json"
)
"$here/../e2e/desktop.sh" stop "$work" >/dev/null
MEVRIK_WAYLAND_SEAT=$build/e2e/wayland_seat "$here/../e2e/wayland_session.sh" sway \
  "$here/wayland_bench.sh" --inside-sway "$build" "$rounds" "$out" 2>/dev/null

python3 - "$out" <<'PY'
import collections, json, statistics, sys
for session in ("x11", "sway"):
    try:
        d = json.load(open(sys.argv[1] + "." + session + ".json"))
        print("%s snapshot: %d records, %d visited, walk %d ms" % (session, len(d["elements"]), d["visited"], d["ms"]))
    except (OSError, ValueError, KeyError):
        print("%s snapshot: none" % session)
runs = collections.defaultdict(list)
for line in open(sys.argv[1]):
    name, ms = line.rsplit(" ", 1)
    runs[name].append(int(ms))
print("%-32s %10s %8s" % ("process", "median ms", "best ms"))
for name, ms in runs.items():
    print("%-32s %10d %8d" % (name, statistics.median(ms), min(ms)))
m = {name: statistics.median(ms) for name, ms in runs.items()}
if "vantic-ax (X11)" in m and "vantic-ax (sway)" in m:
    print("vantic-ax sway / X11 (median): %.2f" % (m["vantic-ax (sway)"] / m["vantic-ax (X11)"]))
if "wtype -k Right (sway)" in m and "vantic-type key Right (sway)" in m:
    print("vantic-type / wtype (median): %.2f" % (m["vantic-type key Right (sway)"] / m["wtype -k Right (sway)"]))
PY
