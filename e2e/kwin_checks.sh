#!/usr/bin/env bash
# The tools on a real headless KWin (started by wayland_session.sh kwin, as a plain user) with
# native Wayland gtk3-widget-factory: the window list and activation through a KWin script, a
# snapshot, a click on a check box at its record's centre read back through AT-SPI, text typed
# and read back, a screenshot of the window, vantic-win's list, focus and at with gtk3-demo in
# front, and the refusals: no fake input and no screenshot without the grants, a point off the
# outputs, a character the keymap lacks.
#
#   kwin_checks.sh BUILD_DIR KWIN_CLIENT [QT_APP]
set -euo pipefail
build=$1 client=$2 qt_app=${3:-}
ax=$build/ax/vantic-ax click=$build/click/vantic-click type=$build/type/vantic-type
shot=$build/shot/vantic-shot win=$build/win/vantic-win
work=$MEVRIK_WAYLAND_BASE
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
pick() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($1)" "$work/snap.json"; }

gtk3-widget-factory >"$work/app.log" 2>&1 &
pid=$!
demo=""
seat_pid="" qt=""
trap 'kill $pid $demo $seat_pid $qt 2>/dev/null || true' EXIT
for _ in $(seq 300); do
  window=$("$client" "$pid" 2>/dev/null) && break
  sleep 0.2
done
[ -n "${window:-}" ] || fail "no window of gtk3-widget-factory in KWin's list"
read -r id fx fy fw fh sx sy < <(head -1 <<<"$window")
grep -qx "focused $id" <<<"$window" || fail "activating window $id: $window"

for _ in 1 2 3; do
  "$ax" --budget 20 >"$work/snap.json" || fail "vantic-ax status $?"
  [ "$(pick 'sum(1 for e in d.get("elements", []) if e["role"] == "checkbox" and not e["disabled"])')" -ge 1 ] && break
  sleep 1
done
[ "$(pick 'd["app"]')" = gtk3-widget-factory ] || fail "snapshot $(head -c 300 "$work/snap.json")"
[ -z "${MEVRIK_WAYLAND_KEEP:-}" ] || cp "$work/snap.json" "$MEVRIK_WAYLAND_KEEP-kwin.json"

# Without a desktop entry that grants it, KWin hides fake input: one clear line, nothing done.
read -r cx cy before < <(pick '" ".join(str(v) for v in next((e["x"], e["y"], e["value"]) for e in d["elements"] if e["role"] == "checkbox" and not e["disabled"] and e["x"] > 0))')
status=0
"$click" "$cx" "$cy" >"$work/click.out" 2>"$work/click.err" || status=$?
[ $status = 1 ] && grep -q "X-KDE-Wayland-Interfaces is missing; no pointer action was performed" \
  "$work/click.err" || fail "click without the grant: status $status, $(cat "$work/click.err")"

status=0
"$shot" "$work/window.png" >"$work/shot.out" 2>"$work/shot.err" || status=$?
[ $status = 1 ] && [ ! -e "$work/window.png" ] &&
  grep -q "^vantic-shot: the screen could not be read: KWin refused the screenshot" "$work/shot.err" ||
  fail "screenshot without the grant: status $status, $(cat "$work/shot.err")"

# The grants, as the package installs them, for the programs in the build, and for the client
# that keeps a pointer and a keyboard on the seat.
for program in click/vantic-click-wayland type/vantic-type shot/vantic-shot; do
  name=$(basename "$program")
  sed "s|^Exec=.*|Exec=$(readlink -f "$build/$program")|" \
    "$(dirname "$0")/../desktop/kde/$name.desktop.in" >"$XDG_DATA_HOME/applications/$name.desktop"
done
sed "s|^Exec=.*|Exec=$(readlink -f "$client")|" "$(dirname "$0")/../desktop/kde/vantic-type.desktop.in" \
  >"$XDG_DATA_HOME/applications/kwin_client.desktop"
# A seat without a mouse gains a pointer only while a tool's fake device is there, and an
# application hears of it (and makes its wl_pointer) some time later: under load, a click could
# come first and reach no one. A desktop has a mouse; so has this seat, from here on.
for _ in $(seq 50); do
  coproc seat { "$client" seat; }
  seat_pid=$!
  read -r -t 10 ready <&"${seat[0]}" && [ "$ready" = ready ] && break
  wait "$seat_pid" 2>/dev/null || true
  sleep 0.2
done
[ "${ready:-}" = ready ] || fail "no fake input device for the seat"

# KWin rereads the desktop entries a moment after they change.
for _ in $(seq 50); do
  status=0
  "$click" 5000 100 >/dev/null 2>"$work/click.err" || status=$?
  grep -q X-KDE-Wayland-Interfaces "$work/click.err" || break
  sleep 0.2
done
[ $status = 1 ] && grep -q "the point 5000,100 lies on no output; no pointer action was performed" \
  "$work/click.err" || fail "click off the outputs: status $status, $(cat "$work/click.err")"

# The cursor, read through KWin's script, goes back where it was; a move leaves it there.
"$click" 20 30 move >"$work/click.out" || fail "vantic-click move status $?"
grep -Eq "^pid=$pid delivery=pid real_cursor_before=-?[0-9]+,-?[0-9]+ after=20,30\$" "$work/click.out" ||
  fail "move report $(cat "$work/click.out")"
"$click" "$cx" "$cy" >"$work/click.out" || fail "vantic-click status $?: $(cat "$work/click.out")"
grep -Eq "^pid=$pid delivery=hid\+restore real_cursor_before=20,30 after=20,30\$" "$work/click.out" ||
  fail "click report $(cat "$work/click.out")"
# pyatspi reads back what the tools did at X,Y in application $app_name (its window's surface
# being at SX,SY): "checked" (whether the check box centred there is checked) or "text" (the
# field's text).
app_name=gtk3-widget-factory
atspi() {
  python3 - "$@" "$sx" "$sy" "$app_name" <<'PY'
import sys, pyatspi
what = sys.argv[1]
x, y, wx, wy = map(int, sys.argv[2:6])
def walk(node, depth=0):
    if depth > 40: return
    yield node
    for child in node:
        if child is not None: yield from walk(child, depth + 1)
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.name == sys.argv[6])
for node in walk(app):
    if node.getRoleName() != {"checked": "check box", "text": "text"}[what]: continue
    e = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    if abs(wx + e.x + e.width / 2 - x) > 1 or abs(wy + e.y + e.height / 2 - y) > 1: continue
    if what == "checked":
        print(node.getState().contains(pyatspi.STATE_CHECKED))
    else:
        t = node.queryText(); print(t.getText(0, t.characterCount))
    break
PY
}
after=$(atspi checked "$cx" "$cy")
expected=$([ "$before" = 0 ] && echo True || echo False)
[ "$after" = "$expected" ] || fail "check box at $cx,$cy: $before -> $after"
# Characters the layout in use (US, the second of two here) lacks are bound for the run in a
# layout of its own; the user's layout settings come back byte for byte afterwards, and the
# layout in use stays the second (KWin's reload picks the first).
read -r tx ty < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "textfield" and not e["disabled"] and not e.get("value") and e["x"] > 0))')
printf '[Layout]\nDisplayNames=,\nLayoutList=de,us\nOptions=compose:ralt\nUse=true\nVariantList=nodeadkeys,\n\n[Other]\nkept=1\n' \
  >"$XDG_CONFIG_HOME/kxkbrc"
cp "$XDG_CONFIG_HOME/kxkbrc" "$work/kxkbrc"
dbus-send --session --type=signal /Layouts org.kde.keyboard.reloadConfig
layout() { dbus-send --session --print-reply --dest=org.kde.keyboard /Layouts "org.kde.KeyboardLayouts.$@" 2>/dev/null; }
for _ in $(seq 50); do layout setLayout uint32:1 >/dev/null && break; sleep 0.1; done
layout getLayout | grep -q 'uint32 1' || fail "KWin did not take the two layouts"
"$click" "$tx" "$ty" >/dev/null || fail "click into the text field"
text='Ça va? 東京 🎉 ok'
"$type" text "$text" >"$work/type.out" 2>"$work/type.err" || fail "vantic-type status $?: $(cat "$work/type.err")"
grep -Eq "^pid=$pid sent=text characters=${#text} remapped=4\$" "$work/type.out" ||
  fail "type report $(cat "$work/type.out")"
# KWin hands the keys on after the tool's last round trip; the application reads them later.
for _ in $(seq 25); do
  got=$(atspi text "$tx" "$ty")
  [ "$got" = "$text" ] && break
  sleep 0.2
done
[ "$got" = "$text" ] || fail "typed '$text', the field holds '$got'"
cmp -s "$work/kxkbrc" "$XDG_CONFIG_HOME/kxkbrc" && [ ! -e "$XDG_CONFIG_HOME/mevrik" ] ||
  fail "the layout settings after typing: $(cat "$XDG_CONFIG_HOME/kxkbrc"; ls "$XDG_CONFIG_HOME")"
layout getLayout | grep -q 'uint32 1' || fail "the layout in use after typing: $(layout getLayout)"
# A run killed while its layout is in the settings: --restore (as any later run) puts them back.
python3 -c 'print("".join(chr(0x4e00 + i) for i in range(600)), end="")' >"$work/long.txt"
"$type" text "$(cat "$work/long.txt")" >/dev/null 2>&1 &
typing=$!
for _ in $(seq 500); do
  cmp -s "$work/kxkbrc" "$XDG_CONFIG_HOME/kxkbrc" || break
  sleep 0.02
done
sleep 0.1
kill -KILL $typing
wait $typing 2>/dev/null || true
! cmp -s "$work/kxkbrc" "$XDG_CONFIG_HOME/kxkbrc" || fail "the long text's run did not switch the layout"
out=$("$type" --restore) && [[ "$out" =~ ^restored=[1-9] ]] || fail "vantic-type --restore: $out"
cmp -s "$work/kxkbrc" "$XDG_CONFIG_HOME/kxkbrc" && [ ! -e "$XDG_CONFIG_HOME/mevrik" ] ||
  fail "the layout settings after --restore: $(cat "$XDG_CONFIG_HOME/kxkbrc"; ls "$XDG_CONFIG_HOME")"
layout getLayout | grep -q 'uint32 1' || fail "the layout in use after --restore: $(layout getLayout)"

# A screenshot of the window in front: its frame on the output, at scale 1.
for _ in $(seq 25); do
  status=0
  "$shot" "$work/window.png" >"$work/shot.out" 2>"$work/shot.err" || status=$?
  grep -q "KWin refused" "$work/shot.err" || break
  sleep 0.2
done
read -r sw sh < <(python3 -c "
import struct
with open('$work/window.png', 'rb') as f: head = f.read(24)
assert head[:8] == b'\x89PNG\r\n\x1a\n', head
print(*struct.unpack('>II', head[16:24]))") || fail "screenshot: status $status, $(cat "$work/shot.err")"
grep -Eq "^pid=$pid file=$work/window.png x=0 y=$fy width=$sw height=$sh image=${sw}x$sh scale=1\$" \
  "$work/shot.out" && [ "$sh" = "$fh" ] || fail "shot report $(cat "$work/shot.out") (frame ${fw}x$fh)"
[ -z "${MEVRIK_WAYLAND_KEEP:-}" ] || cp "$work/window.png" "$MEVRIK_WAYLAND_KEEP-kwin.png"

# vantic-win: a second application in front, then the first brought back over it.
"$win" launch -- gtk3-demo >"$work/launch.json" || fail "vantic-win launch status $?: $(cat "$work/launch.json")"
demo=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["pid"])' "$work/launch.json")
"$win" list >"$work/list.json" || fail "vantic-win list status $?"
read -r cx2 cy2 < <(python3 - "$work/list.json" "$pid" "$id $fx $fy $fw $fh" <<'PY') ||
import json, sys
windows = json.load(open(sys.argv[1]))["windows"]
demo, factory = windows[0], next(w for w in windows if w["pid"] == int(sys.argv[2]))
assert demo["app"] != factory["app"] and demo["focused"] and not factory["focused"], windows
assert " ".join(str(factory[k]) for k in ("id", "x", "y", "w", "h")) == sys.argv[3], factory
print(demo["x"] + demo["w"] // 2, demo["y"] + demo["h"] // 2)
PY
  fail "vantic-win list: $(cat "$work/list.json")"
"$win" focus --pid "$pid" >"$work/focus.json" || fail "vantic-win focus status $?: $(cat "$work/focus.json")"
grep -q '"focused":true' "$work/focus.json" || fail "vantic-win focus: $(cat "$work/focus.json")"
out=$("$win" at "$cx2" "$cy2") || fail "vantic-win at status $?"
grep -q "\"id\":$id," <<<"$out" || fail "vantic-win at $cx2,$cy2 after the focus: $out"
# gtk3-demo minimized (by a KWin script, as its title bar button would): still listed, marked
# minimized; focus brings it back.
printf 'var a = workspace.clientList();\nfor (var i = 0; i < a.length; ++i) if (a[i].pid == %s) a[i].minimized = true;\n' \
  "$demo" >"$work/minimize.js"
script=$(dbus-send --session --print-reply --dest=org.kde.KWin /Scripting org.kde.kwin.Scripting.loadScript \
  string:"$work/minimize.js" string:mevrik-check-minimize | awk '/int32/ {print $2}')
dbus-send --session --print-reply --dest=org.kde.KWin "/$script" org.kde.kwin.Script.run >/dev/null
for _ in $(seq 25); do
  "$win" list >"$work/list.json" || fail "vantic-win list status $?"
  grep -q '"minimized":true' "$work/list.json" && break
  sleep 0.2
done
python3 - "$work/list.json" "$demo" <<'PY' || fail "vantic-win list with gtk3-demo minimized: $(cat "$work/list.json")"
import json, sys
windows = json.load(open(sys.argv[1]))["windows"]
assert [w["minimized"] for w in windows if w["pid"] == int(sys.argv[2])] == [True], windows
assert sum(w["minimized"] for w in windows) == 1, windows
PY
"$win" focus --pid "$demo" >"$work/focus.json" || fail "vantic-win focus of the minimized window: $(cat "$work/focus.json")"
grep -q '"focused":true' "$work/focus.json" && grep -q '"minimized":false' "$work/focus.json" ||
  fail "vantic-win focus of the minimized window: $(cat "$work/focus.json")"

# The Qt 6 window, native on Wayland: snapshot, check box, text and screenshot as above.
if [ -n "$qt_app" ]; then
  "$qt_app" >"$work/qt.log" 2>&1 &
  qt=$!
  window=""
  for _ in $(seq 300); do
    window=$("$client" "$qt" 2>/dev/null) && break
    sleep 0.2
  done
  [ -n "$window" ] || fail "no window of the Qt application in KWin's list"
  read -r qid qfx qfy qfw qfh sx sy < <(head -1 <<<"$window")
  app_name=ax-qt-app
  for _ in 1 2 3; do
    "$ax" --budget 20 >"$work/snap.json" || fail "Qt: vantic-ax status $?"
    [ "$(pick 'sum(1 for e in d.get("elements", []) if e["role"] in ("checkbox", "textfield") and not e["disabled"])')" -ge 2 ] && break
    sleep 1
  done
  [ "$(pick 'd["app"]')" = ax-qt-app ] || fail "Qt snapshot $(head -c 300 "$work/snap.json")"
  read -r cx cy before < <(pick '" ".join(str(v) for v in next((e["x"], e["y"], e["value"]) for e in d["elements"] if e["role"] == "checkbox" and not e["disabled"]))')
  "$click" "$cx" "$cy" >"$work/click.out" || fail "Qt: vantic-click status $?"
  after=$(atspi checked "$cx" "$cy")
  [ "$after" = "$([ "$before" = 0 ] && echo True || echo False)" ] ||
    fail "Qt: check box at $cx,$cy: $before -> $after"
  read -r tx ty < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "textfield" and not e["disabled"] and not e.get("value")))')
  "$click" "$tx" "$ty" >/dev/null || fail "Qt: click into the text field"
  "$type" text "$text" >"$work/type.out" || fail "Qt: vantic-type status $?"
  grep -Eq "^pid=$qt sent=text characters=${#text} remapped=4\$" "$work/type.out" ||
    fail "Qt: type report $(cat "$work/type.out")"
  for _ in $(seq 25); do
    qgot=$(atspi text "$tx" "$ty")
    [ "$qgot" = "$text" ] && break
    sleep 0.2
  done
  [ "$qgot" = "$text" ] || fail "Qt: typed '$text', the field holds '$qgot'"
  "$shot" "$work/qt.png" >"$work/shot.out" || fail "Qt: vantic-shot status $?"
  grep -Eq "^pid=$qt file=$work/qt.png x=$qfx y=$qfy width=$qfw height=$qfh image=${qfw}x$qfh scale=1\$" \
    "$work/shot.out" || fail "Qt: shot report $(cat "$work/shot.out") (frame $qfx,$qfy ${qfw}x$qfh)"
  [ -z "${MEVRIK_WAYLAND_KEEP:-}" ] || cp "$work/qt.png" "$MEVRIK_WAYLAND_KEEP-kwin-qt.png"
  echo "kwin: Qt window $qid ${qfw}x$qfh: check box at $cx,$cy switched, '$qgot' typed, screenshot"
fi

echo "kwin: window $id at $fx,$fy ${fw}x$fh activated, check box at $cx,$cy switched, '$got' typed, ${sw}x$sh screenshot, list/focus/at"
echo "kwin checks passed"
