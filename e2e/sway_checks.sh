#!/usr/bin/env bash
# Every tool on a real sway session (started by wayland_session.sh, as a plain user) with native
# Wayland applications, GTK 3 and Qt 6: a snapshot, a click on a check box at its record's centre
# read back through AT-SPI, text typed into an empty field and read back exactly, a screenshot of
# the window; vantic-win's list, at and focus across two workspaces, through sway's IPC and
# through the foreign-toplevel list.
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
    e = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    if abs(wx + e.x + e.width / 2 - x) > 1 or abs(wy + e.y + e.height / 2 - y) > 1: continue
    if what == "checked":
        print(node.getState().contains(pyatspi.STATE_CHECKED))
    else:
        t = node.queryText(); print(t.getText(0, t.characterCount))
    break
PY
}

# Prints what a Python expression gives for the last snapshot, the document d.
pick() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($1)" "$work/snap.json"; }

# check_app NAME CMD...: starts the application (NAME on the accessibility bus) and checks every
# tool on its window.
check_app() {
  local name=$1 pid
  shift
  "$@" >"$work/app.log" 2>&1 &
  pid=$!
  for _ in $(seq 200); do
    swaymsg -t get_tree | grep -q "\"pid\": $pid," && break
    sleep 0.1
  done
  # sway's view of the window: where its surface starts and the client area's size.
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
      n["window_rect"]["width"], n["window_rect"]["height"])' "$pid") || fail "$name: no window"

  # A toolkit registers its tree a moment after its window maps; the sanitised build on a busy
  # machine needs a wide budget.
  for _ in 1 2 3; do
    "$ax" --budget 20 >"$work/snap.json" || fail "$name: vantic-ax status $?"
    [ "$(pick 'sum(1 for e in d.get("elements", []) if e["role"] in ("checkbox", "textfield") and not e["disabled"])')" -ge 2 ] && break
    sleep 1
  done
  [ "$(pick 'd["app"]')" = "$name" ] || fail "$name: snapshot $(head -c 300 "$work/snap.json")"
  [ -z "${MEVRIK_WAYLAND_KEEP:-}" ] || cp "$work/snap.json" "$MEVRIK_WAYLAND_KEEP-$name.json"

  # A check box that can be switched: click its centre, AT-SPI must see it switched.
  read -r cx cy before < <(pick '" ".join(str(v) for v in next((e["x"], e["y"], e["value"]) for e in d["elements"] if e["role"] == "checkbox" and not e["disabled"]))')
  "$click" "$cx" "$cy" >"$work/click.out" || fail "$name: vantic-click status $?"
  grep -Eq "^pid=$pid delivery=hid\+restore real_cursor_before=\? after=\?\$" "$work/click.out" ||
    fail "$name: click report $(cat "$work/click.out")"
  local after expected
  after=$(atspi checked "$name" "$cx" "$cy" "$wx" "$wy")
  expected=$([ "$before" = 0 ] && echo True || echo False)
  [ "$after" = "$expected" ] || fail "$name: check box at $cx,$cy: $before -> $after"

  # Text: click into an empty text field, type, read it back.
  read -r tx ty < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "textfield" and not e["disabled"] and not e.get("value")))')
  "$click" "$tx" "$ty" >/dev/null || fail "$name: click into the text field"
  local text='Ça va? 東京 🎉 ok' got
  "$type" text "$text" >"$work/type.out" || fail "$name: vantic-type status $?"
  grep -Eq "^pid=$pid sent=text characters=14 remapped=4\$" "$work/type.out" ||
    fail "$name: type report $(cat "$work/type.out")"
  got=$(atspi text "$name" "$tx" "$ty" "$wx" "$wy")
  [ "$got" = "$text" ] || fail "$name: typed '$text', the field holds '$got'"

  # A screenshot of the window: the client area's size, at scale 1.
  "$shot" "$work/window.png" >"$work/shot.out" || fail "$name: vantic-shot status $?"
  grep -Eq "^pid=$pid file=$work/window.png x=-?[0-9]+ y=-?[0-9]+ width=$ww height=$wh image=${ww}x$wh scale=1\$" \
    "$work/shot.out" || fail "$name: shot report $(cat "$work/shot.out") (window ${ww}x$wh)"
  python3 -c "
import struct
with open('$work/window.png', 'rb') as f: head = f.read(24)
assert head[:8] == b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', head[16:24]) == ($ww, $wh), head"
  if [ -n "${MEVRIK_WAYLAND_KEEP:-}" ]; then cp "$work/window.png" "$MEVRIK_WAYLAND_KEEP-$name.png"; fi
  echo "$name: check box at $cx,$cy switched, '$got' typed and read back, ${ww}x$wh screenshot"
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

check_app gtk3-widget-factory gtk3-widget-factory
if [ -n "$qt_app" ]; then check_app ax-qt-app "$qt_app"; fi
check_windows
echo "sway checks passed"
