#!/usr/bin/env bash
# Every tool on a real sway session (started by wayland_session.sh, as a plain user) with native
# Wayland applications, GTK 3 and Qt 6: a snapshot, a click on a check box at its record's centre
# read back through AT-SPI, text typed into an empty field and read back exactly, a screenshot of
# the window; vantic-win's list, at and focus across two workspaces, through sway's IPC and
# through the foreign-toplevel list; the same for an X11 application under XWayland on a scaled
# second output.
#
#   sway_checks.sh BUILD_DIR [QT_APP]
set -euo pipefail
build=$1 qt_app=${2:-}
ax=$build/ax/vantic-ax click=$build/click/vantic-click type=$build/type/vantic-type
shot=$build/shot/vantic-shot win=$build/win/vantic-win
work=$MEVRIK_WAYLAND_BASE
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# pyatspi reads back what the tools did to application APP at X,Y, its window's surface being at
# WX,WY: "checked" (whether the check box centred there is checked) or "text" (the field's text).
atspi() {
  python3 - "$@" <<'PY'
import sys, pyatspi
what, name = sys.argv[1:3]
x, y, wx, wy = map(int, sys.argv[3:7])
def walk(node, depth=0):
    if depth > 40: return
    yield node
    for child in node:
        if child is not None: yield from walk(child, depth + 1)
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.name == name)
role = {"checked": "check box", "text": "text"}[what]
for node in walk(app):
    if node.getRoleName() != role: continue
    # Qt on a second output adds the output's position to the sizes of its window coordinates;
    # its screen coordinates keep the sizes right.
    e = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    d = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    if abs(wx + e.x + d.width / 2 - x) > 1 or abs(wy + e.y + d.height / 2 - y) > 1: continue
    if what == "checked":
        print(node.getState().contains(pyatspi.STATE_CHECKED))
    else:
        t = node.queryText(); print(t.getText(0, t.characterCount))
    break
PY
}

# Prints what a Python expression gives for the last snapshot, the document d.
pick() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($1)" "$work/snap.json"; }

# place PID: sway's view of the process's window: where its surface starts and the client area's
# size, in wx wy ww wh.
place() {
  read -r wx wy ww wh < <(swaymsg -t get_tree | python3 -c '
import json, sys
def walk(n):
    if n.get("pid") == int(sys.argv[1]): return n
    for c in n.get("nodes", []) + n.get("floating_nodes", []):
        f = walk(c)
        if f: return f
n = walk(json.load(sys.stdin))
print(n["rect"]["x"] + n["window_rect"]["x"] - n["geometry"]["x"],
      n["rect"]["y"] + n["window_rect"]["y"] - n["geometry"]["y"],
      n["window_rect"]["width"], n["window_rect"]["height"])' "$1")
}

# start_app CMD...: starts the application and waits for its window; its pid in $pid.
start_app() {
  "$@" >"$work/app.log" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    swaymsg -t get_tree | grep -q "\"pid\": $pid," && break
    sleep 0.1
  done
}

# snapshot NAME: vantic-ax's document of the frontmost application NAME in $work/snap.json, once
# its check boxes and text fields are there.
snapshot() {
  # A toolkit registers its tree a moment after its window maps; the sanitised build on a busy
  # machine needs a wide budget.
  for _ in 1 2 3; do
    "$ax" --budget 20 >"$work/snap.json" || fail "$1: vantic-ax status $?"
    [ "$(pick 'sum(1 for e in d.get("elements", []) if e["role"] in ("checkbox", "textfield") and not e["disabled"])')" -ge 2 ] && break
    sleep 1
  done
  [ "$(pick 'd["app"]')" = "$1" ] || fail "$1: snapshot $(head -c 300 "$work/snap.json")"
  # The window may have settled into its place (tiled, borders) since it first showed: the
  # read-back uses its place as of the snapshot.
  place "$pid" || fail "$1: no window"
}

# click_check_box NAME: clicks the centre of the first check box that can be switched; AT-SPI
# must see it switched.
click_check_box() {
  local name=$1 after expected
  read -r cx cy before < <(pick '" ".join(str(v) for v in next((e["x"], e["y"], e["value"]) for e in d["elements"] if e["role"] == "checkbox" and not e["disabled"]))')
  "$click" "$cx" "$cy" >"$work/click.out" || fail "$name: vantic-click status $?"
  grep -Eq "^pid=$pid delivery=hid\+restore real_cursor_before=\? after=\?\$" "$work/click.out" ||
    fail "$name: click report $(cat "$work/click.out")"
  after=$(atspi checked "$name" "$cx" "$cy" "$wx" "$wy")
  expected=$([ "$before" = 0 ] && echo True || echo False)
  [ "$after" = "$expected" ] || fail "$name: check box at $cx,$cy: $before -> $after"
}

# shot_window NAME SCALE: a screenshot of the window: the client area's size in points, SCALE
# image pixels per point.
shot_window() {
  local name=$1
  "$shot" "$work/window.png" >"$work/shot.out" || fail "$name: vantic-shot status $?"
  python3 - "$work/shot.out" "$work/window.png" "$pid" "$ww" "$wh" "$2" <<'PY' ||
import re, struct, sys
report, png, pid, w, h, scale = open(sys.argv[1]).read(), sys.argv[2], *map(float, sys.argv[3:])
m = re.fullmatch(r"pid=(\d+) file=\S+ x=-?\d+ y=-?\d+ width=(\d+) height=(\d+) image=(\d+)x(\d+) scale=([\d.]+)\n", report)
assert m and (int(m[1]), int(m[2]), int(m[3])) == (pid, w, h), report
iw, ih, s = int(m[4]), int(m[5]), float(m[6])
assert abs(iw - w * scale) <= 1 and abs(ih - h * scale) <= 1 and abs(s - scale) < 0.01, report
with open(png, "rb") as f: head = f.read(24)
assert head[:8] == b"\x89PNG\r\n\x1a\n" and struct.unpack(">II", head[16:24]) == (iw, ih), head
PY
    fail "$name: shot report $(cat "$work/shot.out") (window ${ww}x$wh at scale $2)"
}

# check_app NAME SCALE CMD...: starts the application (NAME on the accessibility bus) on an output
# of that scale and checks every tool on its window; leaves it running.
check_app() {
  local name=$1 scale=$2
  shift 2
  start_app "$@"
  snapshot "$name"
  [ -z "${MEVRIK_WAYLAND_KEEP:-}" ] || cp "$work/snap.json" "$MEVRIK_WAYLAND_KEEP-$name.json"
  click_check_box "$name"

  # Text: click into an empty text field, type, read it back.
  read -r tx ty < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "textfield" and not e["disabled"] and not e.get("value")))')
  "$click" "$tx" "$ty" >/dev/null || fail "$name: click into the text field"
  local text='Ça va? 東京 🎉 ok' got
  "$type" text "$text" >"$work/type.out" || fail "$name: vantic-type status $?"
  grep -Eq "^pid=$pid sent=text characters=14 remapped=4\$" "$work/type.out" ||
    fail "$name: type report $(cat "$work/type.out")"
  got=$(atspi text "$name" "$tx" "$ty" "$wx" "$wy")
  [ "$got" = "$text" ] || fail "$name: typed '$text', the field holds '$got'"

  shot_window "$name" "$scale"
  if [ -n "${MEVRIK_WAYLAND_KEEP:-}" ]; then cp "$work/window.png" "$MEVRIK_WAYLAND_KEEP-$name.png"; fi
  echo "$name: check box at $cx,$cy switched, '$got' typed and read back, ${ww}x$wh screenshot"
}
stop_app() {
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

# A second output right of the first, scaled by 2 and then by 1.5 (1280x800 points both times):
# the snapshot's centres take a click to the check box, the screenshot has the output's scale.
# Then the second output shrinks to 640x400 points, leaving a gap below it: a click there and a
# screenshot across both outputs are refused. The small Qt window keeps this quick.
check_outputs() {
  local name=$1 status
  shift
  swaymsg -q create_output
  swaymsg -q output HEADLESS-2 resolution 2560x1600 position 1280 0 scale 2
  swaymsg -q focus output HEADLESS-2
  start_app "$@"
  for scale in 2 1.5; do
    [ "$scale" = 2 ] || swaymsg -q output HEADLESS-2 resolution 1920x1200 scale "$scale"
    sleep 0.5
    snapshot "$name"
    click_check_box "$name"
    [ "${cx%.*}" -ge 1280 ] || fail "$name: the check box at $cx,$cy is not on HEADLESS-2"
    shot_window "$name" "$scale"
    [ -z "${MEVRIK_WAYLAND_KEEP:-}" ] || cp "$work/window.png" "$MEVRIK_WAYLAND_KEEP-scale$scale.png"
    echo "$name on HEADLESS-2 at scale $scale: check box at $cx,$cy switched, ${ww}x$wh screenshot"
  done
  swaymsg -q output HEADLESS-2 resolution 1280x800 scale 2
  status=0
  "$click" 1500 600 >"$work/click.out" 2>&1 || status=$?
  [ $status = 1 ] && grep -q "lies on no output" "$work/click.out" ||
    fail "a click in the gap below HEADLESS-2: status $status $(cat "$work/click.out")"
  status=0
  "$shot" "$work/across.png" 1200 100 200 100 >"$work/shot.out" 2>&1 || status=$?
  [ $status = 1 ] && [ ! -e "$work/across.png" ] ||
    fail "a screenshot across two outputs: status $status $(cat "$work/shot.out")"
  echo "a click on no output and a screenshot across two outputs refused"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
}

# The field EXPR of the record of APP in vantic-win's list (in $work/list.json).
listed() {
  python3 -c "import json,sys; w=next(w for w in json.load(open(sys.argv[1]))['windows'] if w['app']==sys.argv[2]); print($2)" \
    "$work/list.json" "$1"
}
# The window on workspace 1 hides behind the one on workspace 2; at and focus follow.
check_windows() {
  local second=${qt_app:-gtk3-widget-factory} app2 id1 id2 out
  "$win" launch -- gtk3-widget-factory >"$work/launch1.json" || fail "vantic-win launch status $?"
  swaymsg -q workspace 2
  "$win" launch -- "$second" >"$work/launch2.json" || fail "vantic-win launch status $?"
  app2=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["app"])' "$work/launch2.json")
  "$win" list >"$work/list.json" || fail "vantic-win list status $?"
  # Each record as sway tells it: the container's rectangle, the workspace, the focus.
  python3 - "$work/list.json" <<'PY' || fail "vantic-win list: $(cat "$work/list.json")"
import json, subprocess, sys
listed = json.load(open(sys.argv[1]))["windows"]
tree = json.loads(subprocess.check_output(["swaymsg", "-t", "get_tree"]))
def walk(n, ws=None):
    if n.get("type") == "workspace": ws = n.get("num")
    if n.get("pid"): yield n, ws
    for c in n.get("nodes", []) + n.get("floating_nodes", []): yield from walk(c, ws)
views = {n["id"]: (n, ws) for n, ws in walk(tree)}
assert [w["id"] for w in listed][0] == next(i for i, (n, _) in views.items() if n["focused"]), listed
assert len(listed) == len(views) == 2, listed
for w in listed:
    n, ws = views[w["id"]]
    r = n["rect"]
    assert (w["pid"], w["x"], w["y"], w["w"], w["h"], w["desktop"], w["focused"]) == \
        (n["pid"], r["x"], r["y"], r["width"], r["height"], ws, n["focused"]), (w, n)
PY
  id1=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["id"])' "$work/launch1.json")
  id2=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["id"])' "$work/launch2.json")
  out=$("$win" at 640 400) || fail "vantic-win at status $?"
  [ "$(echo "$out" | python3 -c 'import json,sys; print(json.load(sys.stdin)["id"])')" = "$id2" ] ||
    fail "vantic-win at 640 400 on workspace 2: $out"
  "$win" focus "$id1" >"$work/focus.json" || fail "vantic-win focus status $?"
  grep -q '"focused":true' "$work/focus.json" || fail "vantic-win focus: $(cat "$work/focus.json")"
  swaymsg -t get_workspaces | grep -q '"name": "1",' || fail "workspace 1 not shown"
  out=$("$win" at 640 400) || fail "vantic-win at status $?"
  [ "$(echo "$out" | python3 -c 'import json,sys; print(json.load(sys.stdin)["id"])')" = "$id1" ] ||
    fail "vantic-win at 640 400 after the focus: $out"
  echo "vantic-win: list, at and focus across workspaces 1 and 2 as sway tells them"

  # Without sway's IPC: the toplevel list, activation, and "at" refused.
  env -u SWAYSOCK "$win" list >"$work/list.json" || fail "foreign-toplevel list status $?"
  [ "$(listed "$app2" "w['focused'], 'x' in w")" = "False False" ] ||
    fail "foreign-toplevel list: $(cat "$work/list.json")"
  env -u SWAYSOCK "$win" focus "$(listed "$app2" "w['id']")" >"$work/focus.json" ||
    fail "foreign-toplevel focus status $? $(cat "$work/focus.json")"
  swaymsg -t get_workspaces | python3 -c 'import json,sys; assert [w["name"] for w in json.load(sys.stdin) if w["focused"]] == ["2"]' ||
    fail "foreign-toplevel focus did not show workspace 2"
  local status=0
  env -u SWAYSOCK "$win" at 640 400 >"$work/at.json" || status=$?
  [ $status = 1 ] && grep -q "nothing was done" "$work/at.json" || fail "foreign-toplevel at: $status $(cat "$work/at.json")"
  echo "vantic-win without sway's IPC: list and focus, at refused"
  kill "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["pid"])' "$work/launch1.json")" \
    "$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["pid"])' "$work/launch2.json")"
  swaymsg -q workspace 1
}

# An X11 GTK application under XWayland, which sway starts for the first X11 client, on the second
# output at scale 2: its toolkit speaks positions in XWayland's root window, which is sway's layout
# in points, and draws at scale 1, which sway enlarges. vantic-win names it by its X11 class.
# vantic-type reaches it through XWayland's X server ($DISPLAY, as sway gives its programs): runs
# back to back each arrive whole, and without DISPLAY the run is refused before any key.
check_xwayland() {
  local out status expected got i
  swaymsg -q exec "echo \$DISPLAY >$work/display"
  wait_for_file "$work/display"
  export DISPLAY
  DISPLAY=$(cat "$work/display")
  swaymsg -q output HEADLESS-2 resolution 2560x1600 scale 2
  swaymsg -q focus output HEADLESS-2
  check_app gtk3-widget-factory 2 env GDK_BACKEND=x11 gtk3-widget-factory
  [ "${cx%.*}" -ge 1280 ] || fail "X11: the check box at $cx,$cy is not on HEADLESS-2"
  out=$("$win" at "$cx" "$cy") || fail "X11: vantic-win at status $?"
  echo "$out" | grep -q "\"app\":\"Gtk3-widget-factory\",\"pid\":$pid," || fail "X11: vantic-win at $cx $cy: $out"
  expected='Ça va? 東京 🎉 ok'
  # Runs straight after each other, each binding another character to the same spare key: a key
  # read through the previous run's map would give that run's character.
  for i in € ß 東 é "a b"; do
    "$type" text " $i" >"$work/type.out" || fail "X11: vantic-type ' $i' status $?"
    expected+=" $i"
  done
  got=$(atspi text gtk3-widget-factory "$tx" "$ty" "$wx" "$wy")
  [ "$got" = "$expected" ] || fail "X11: runs back to back: the field holds '$got', not '$expected'"
  "$type" key ctrl+a BackSpace shift+x >/dev/null || fail "X11: vantic-type key status $?"
  status=0
  env -u DISPLAY "$type" text "y" >"$work/type.out" 2>&1 || status=$?
  [ $status = 1 ] && grep -q "XWayland.*nothing was typed" "$work/type.out" ||
    fail "X11: vantic-type without DISPLAY: status $status $(cat "$work/type.out")"
  got=$(atspi text gtk3-widget-factory "$tx" "$ty" "$wx" "$wy")
  [ "$got" = X ] || fail "X11: after the chord and the refusal the field holds '$got'"
  echo "X11: 5 runs back to back read back exactly, a chord, a run without DISPLAY refused"
  stop_app
}
wait_for_file() {
  for _ in $(seq 50); do [ -s "$1" ] && return; sleep 0.1; done
  fail "no $1"
}

check_app gtk3-widget-factory 1 gtk3-widget-factory
stop_app
if [ -n "$qt_app" ]; then check_app ax-qt-app 1 "$qt_app"; stop_app; fi
check_windows
if [ -n "$qt_app" ]; then
  check_outputs ax-qt-app "$qt_app"
else
  check_outputs gtk3-widget-factory gtk3-widget-factory
fi
check_xwayland
# Last, as it ends the session: sway killed while vantic-type's keys go out gives status 1 and
# one line, never a report.
start_app gtk3-widget-factory
"$type" text "$(printf 'x%.0s' $(seq 1500))" >"$work/type.out" 2>"$work/type.err" &
typer=$!
for _ in $(seq 400); do [ "$(ls -l /proc/$typer/fd 2>/dev/null | grep -c socket:)" -ge 2 ] && break; sleep 0.01; done
sleep 0.05
kill -KILL "$(basename "$SWAYSOCK" .sock | cut -d. -f3)"
status=0
wait "$typer" || status=$?
[ $status = 1 ] && [ ! -s "$work/type.out" ] && [ "$(wc -l <"$work/type.err")" = 1 ] &&
  grep -q "closed the connection.*typing may be incomplete" "$work/type.err" ||
  fail "sway killed mid-run: vantic-type status $status $(cat "$work/type.out" "$work/type.err")"
echo "sway killed mid-run: vantic-type says typing may be incomplete"
echo "sway checks passed"
