#!/usr/bin/env bash
# The tools under headless sway beside X11, both sessions running at once and measured in turns,
# so that the machine's load weighs on both alike (needs root: the sessions run as a user it
# creates, see e2e/wayland_session.sh):
# - vantic-ax on gtk3-widget-factory's window, X11 and sway: on its first page, whose spinners
#   keep it drawing, and on its second page, where nothing moves;
# - vantic-click moving the pointer, X11 and sway; one key typed by vantic-type and by wtype, a
#   one-shot virtual-keyboard client, under sway (no one-shot pointer client is packaged that
#   works here: ydotool needs /dev/uinput);
# - why the snapshot is slower under sway: 500 AT-SPI round trips to the application while its
#   window is shown in each session, and under sway while it sits on a hidden workspace (sway
#   then sends it no frame callbacks, so it draws nothing).
#
#   bench/wayland_bench.sh BUILD_DIR [ROUNDS]
# Prints the median and best process times in ms and the ratios.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}

# ms NAME CMD...: runs CMD once, appends "NAME ms" to $out.
ms() {
  local name=$1 t
  shift
  t=${EPOCHREALTIME/[.,]/}
  "$@" >/dev/null
  echo "$name $(((${EPOCHREALTIME/[.,]/} - t) / 1000))" >>"$out"
}

# Total ms of N round trips (GetState) to the accessible application NAME.
pings() {
  /usr/bin/python3 - "$@" <<'PY'
import sys, time
from gi.repository import Gio, GLib
name, n = sys.argv[1], int(sys.argv[2])
session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                            None, None, 0, -1, None).unpack()[0]
bus = Gio.DBusConnection.new_for_address_sync(
    address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT |
    Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
def call(dest, path, iface, method, args=None):
    return bus.call_sync(dest, path, iface, method, args, None, 0, 5000, None).unpack()
for dest, path in call("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                       "org.a11y.atspi.Accessible", "GetChildren")[0]:
    try:
        if call(dest, path, "org.freedesktop.DBus.Properties", "Get",
                GLib.Variant("(ss)", ("org.a11y.atspi.Accessible", "Name")))[0] == name: break
    except GLib.Error: pass
t = time.perf_counter()
for _ in range(n): call(dest, path, "org.a11y.atspi.Accessible", "GetState")
print(round((time.perf_counter() - t) * 1000))
PY
}

if [ "${1:-}" = --inside ]; then
  # Inside the sway session, as its user: $2 the build folder, $3 the rounds, $4 the file.
  build=$2 rounds=$3 out=$4
  x11=$MEVRIK_WAYLAND_BASE/x11
  mkdir "$x11"
  trap '"$here/../e2e/desktop.sh" stop "$x11" >/dev/null 2>&1 || true' EXIT
  "$here/../e2e/desktop.sh" start "$x11" >/dev/null
  # A subshell with the X11 desktop's environment instead of sway's.
  on_x11() (
    unset WAYLAND_DISPLAY SWAYSOCK XDG_SESSION_TYPE XDG_CURRENT_DESKTOP QT_QPA_PLATFORM
    . "$x11/env.sh"
    "$@"
  )
  on_x11 "$here/../e2e/desktop.sh" launch "$x11" -- gtk3-widget-factory >/dev/null
  gtk3-widget-factory >/dev/null 2>&1 &
  for _ in $(seq 300); do swaymsg -t get_tree | grep -q '"pid"' && break; sleep 0.1; done
  sleep 2
  # page LABEL: clicks the application's tab LABEL.
  page() {
    local x y
    read -r x y < <("$build/ax/vantic-ax" --budget 10 | /usr/bin/python3 -c 'import json, sys
print(*next((e["x"], e["y"]) for e in json.load(sys.stdin)["elements"] if e["label"] == sys.argv[1]))' "$1")
    "$build/click/vantic-click" "$x" "$y" >/dev/null
    sleep 0.5
  }
  for _ in $(seq "$rounds"); do
    on_x11 ms "vantic-ax (X11)" "$build/ax/vantic-ax" --budget 10
    ms "vantic-ax (sway)" "$build/ax/vantic-ax" --budget 10
    on_x11 ms "vantic-click move (X11)" "$build/click/vantic-click" 300 300 move
    ms "vantic-click move (sway)" "$build/click/vantic-click" 300 300 move
    ms "vantic-type key Right (sway)" "$build/type/vantic-type" key Right
    ms "wtype -k Right (sway)" wtype -k Right
  done
  on_x11 "$build/ax/vantic-ax" --budget 10 >"$out.x11.json"
  "$build/ax/vantic-ax" --budget 10 >"$out.sway.json"
  echo "pings (X11) $(on_x11 pings gtk3-widget-factory 500)" >>"$out.pings"
  echo "pings (sway, shown) $(pings gtk3-widget-factory 500)" >>"$out.pings"
  on_x11 page "Page 2"
  page "Page 2"
  for _ in $(seq "$rounds"); do
    on_x11 ms "vantic-ax, page 2 (X11)" "$build/ax/vantic-ax" --budget 10
    ms "vantic-ax, page 2 (sway)" "$build/ax/vantic-ax" --budget 10
  done
  echo "pings (sway, page 2 shown) $(pings gtk3-widget-factory 500)" >>"$out.pings"
  swaymsg -q workspace 2
  sleep 0.5
  echo "pings (sway, hidden) $(pings gtk3-widget-factory 500)" >>"$out.pings"
  exit 0
fi

build=$(cd "${1:?usage: wayland_bench.sh BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-15}
out=$(mktemp /tmp/mevrik-wayland-bench.XXXXXX)
trap 'rm -f "$out"*' EXIT
touch "$out.x11.json" "$out.sway.json" "$out.pings"
chmod 666 "$out" "$out".*
# The seat helper is built with the tests; a build without them borrows the one beside it.
seat=$build/e2e/wayland_seat
[ -x "$seat" ] || seat=$(ls "$build"/../*/e2e/wayland_seat 2>/dev/null | head -1)
MEVRIK_WAYLAND_SEAT=$seat "$here/../e2e/wayland_session.sh" sway \
  "$here/wayland_bench.sh" --inside "$build" "$rounds" "$out" >/dev/null 2>&1

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
def ratio(label, a, b):
    if a in m and b in m: print("%-44s %.2f" % (label, m[a] / m[b]))
ratio("vantic-ax sway / X11 (median)", "vantic-ax (sway)", "vantic-ax (X11)")
ratio("vantic-ax, page 2, sway / X11 (median)", "vantic-ax, page 2 (sway)", "vantic-ax, page 2 (X11)")
ratio("vantic-click move sway / X11 (median)", "vantic-click move (sway)", "vantic-click move (X11)")
ratio("vantic-type / wtype (median)", "vantic-type key Right (sway)", "wtype -k Right (sway)")
for line in open(sys.argv[1] + ".pings"):
    name, ms = line.rsplit(" ", 1)
    print("%-44s %s ms" % ("500 AT-SPI round trips " + name.split(" ", 1)[1], ms.strip()))
PY
