#!/usr/bin/env bash
# vantic-click and vantic-type in a real GNOME Shell session with Mevrik's extension running, on a
# native Wayland gtk3-widget-factory: a check box clicked at its snapshot record's centre and read
# back through AT-SPI with the cursor put back, "Ça va? 東京 🎉 ok" typed into an empty field and read back
# exactly, a chord, a point on no monitor refused, and both tools' line where the extension is
# missing. With the Qt test window's pid, the same text typed into its line edit as key codes
# (Qt 6.4 takes no input-method text from the shell), and the keymap as it was after a run that
# is killed while the layout carries its characters.
#
#   gnome_input_checks.sh BUILD_DIR PID [QT_PID]   (run inside the session)
set -euo pipefail
build=$1 pid=$2 qt_pid=${3:-}
click=$build/click/vantic-click type=$build/type/vantic-type ax=$build/ax/vantic-ax
export XDG_CURRENT_DESKTOP=GNOME WAYLAND_DISPLAY=${WAYLAND_DISPLAY:-wayland-0}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
shell() {
  gdbus call --session --dest com.fennick.Mevrik.Shell --object-path /com/fennick/Mevrik/Shell \
    --method "com.fennick.Mevrik.Shell.$1" "${@:2}"
}

# The shell starts in the overview, which would take the clicks: Escape leaves it. The pointer
# goes elsewhere first, so that putting it back is seen.
"$click" 640 400 move >/dev/null || fail "vantic-click move status $?"
"$type" key Escape >/dev/null || fail "vantic-type key Escape status $?"
sleep 1

# atspi ROLE X Y: "X Y STATE" of the shown, enabled element of the role centred at X,Y (the
# window's surface origin plus its window-relative extents); STATE is whether it is checked, or
# its text.
read -r sx sy < <(shell ListWindows | python3 -c '
import ast, json, sys
w = [x for x in json.loads(ast.literal_eval(sys.stdin.read())[0]) if x["pid"] == int(sys.argv[1])][0]
print(w["buffer"]["x"], w["buffer"]["y"])' "$pid")
atspi() {
  python3 - "$sx" "$sy" "$@" <<'PY'
import sys, pyatspi
sx, sy, role = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3]
at = tuple(map(int, sys.argv[4:6]))
def walk(node, depth=0):
    if depth > 40: return
    yield node
    for child in node:
        if child is not None: yield from walk(child, depth + 1)
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == int(__import__("os").environ["APP_PID"]))
for node in walk(app):
    states = node.getState()
    if node.getRoleName() != role or not states.contains(pyatspi.STATE_SHOWING): continue
    if not states.contains(pyatspi.STATE_SENSITIVE): continue
    e = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    x, y = sx + e.x + e.width // 2, sy + e.y + e.height // 2
    if (x, y) != at: continue
    if role == "check box":
        state = states.contains(pyatspi.STATE_CHECKED)
    else:
        t = node.queryText(); state = t.getText(0, t.characterCount)
    print(x, y, state)
    break
PY
}
export APP_PID=$pid

snap=$(mktemp)
trap 'rm -f "$snap"' EXIT
"$ax" --budget 20 >"$snap" || fail "vantic-ax status $?"
pick() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($1)" "$snap"; }

# The check box: clicked at its record's centre, switched, and the cursor back where it was.
read -r px py < <(shell GetPointer | tr -d '(),')
read -r cx cy < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "checkbox" and not e["disabled"]))')
read -r _ _ before < <(atspi "check box" "$cx" "$cy") || fail "no check box on AT-SPI at $cx,$cy"
out=$("$click" "$cx" "$cy") || fail "vantic-click status $?"
[ "$out" = "pid=$pid delivery=hid+restore real_cursor_before=$px,$py after=$px,$py" ] ||
  fail "click report: $out (the cursor was at $px,$py)"
read -r _ _ after < <(atspi "check box" "$cx" "$cy")
[ "$after" != "$before" ] || fail "the check box at $cx,$cy stayed $before"
[ "$(shell GetPointer | tr -d '(),')" = "$px $py" ] || fail "the cursor is not back at $px,$py"
echo "check box at $cx,$cy: $before -> $after, cursor back at $px,$py"

# Text: click into an empty field, type, read it back exactly; then a chord clears it.
read -r tx ty < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "textfield" and not e["disabled"] and not e.get("value")))')
"$click" "$tx" "$ty" >/dev/null || fail "click into the text field: status $?"
text='Ça va? 東京 🎉 ok'
out=$("$type" text "$text") || fail "vantic-type status $?"
[ "$out" = "pid=$pid sent=text characters=14 remapped=0" ] || fail "type report: $out"
got=$(atspi text "$tx" "$ty" | cut -d' ' -f3-)
[ "$got" = "$text" ] || fail "typed '$text', the field holds '$got'"
"$type" key ctrl+a BackSpace shift+x >/dev/null || fail "vantic-type key status $?"
got=$(atspi text "$tx" "$ty" | cut -d' ' -f3-)
[ "$got" = X ] || fail "ctrl+a BackSpace shift+x left '$got'"
echo "'$text' typed and read back at $tx,$ty; ctrl+a BackSpace shift+x left 'X'"

# A point on no monitor moves nothing.
status=0
err=$("$click" 5000 5000 2>&1 >/dev/null) || status=$?
[ "$status" = 1 ] && [ "$err" = "vantic-click: the point 5000,5000 lies on no monitor; no pointer action was performed" ] ||
  fail "off-monitor click: status $status, '$err'"

# Without the extension both tools say so in one line: on a bus of their own it is not there.
status=0
err=$(dbus-run-session -- "$click" "$cx" "$cy" 2>&1 >/dev/null) || status=$?
[ "$status" = 1 ] && grep -qx "vantic-click: Wayland session: vantic-click needs Mevrik's GNOME Shell extension .* log out and log in once; no pointer action was performed" <<<"$err" ||
  fail "click without the extension: status $status, '$err'"
status=0
err=$(dbus-run-session -- "$type" text ok 2>&1 >/dev/null) || status=$?
[ "$status" = 1 ] && grep -qx "vantic-type: Wayland session: vantic-type needs Mevrik's GNOME Shell extension .* log out and log in once; nothing was typed" <<<"$err" ||
  fail "type without the extension: status $status, '$err'"
echo "without the extension: status 1 and one line from each tool"
[ -n "$qt_pid" ] || exit 0

# The keymap as the shell has it, and the line edit's text (read through AT-SPI).
keyboard() {
  shell Keyboard | python3 -c '
import ast, json, sys
k = json.loads(ast.literal_eval(sys.stdin.read())[0])
print(json.dumps([k["layouts"], k["variants"], k["options"], k["group"]]))'
}
qt_text() {
  python3 - <<'PY'
import pyatspi
def walk(node, depth=0):
    if depth > 40: return
    yield node
    for child in node:
        if child is not None: yield from walk(child, depth + 1)
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "ax-qt-app")
edit = next(n for n in walk(app) if n.getRoleName() == "text" and n.getState().contains(pyatspi.STATE_SHOWING))
t = edit.queryText()
print(t.getText(0, t.characterCount))
PY
}
"$build/win/vantic-win" focus --pid "$qt_pid" >/dev/null || fail "focusing the Qt window: status $?"
"$ax" --budget 20 >"$snap" || fail "vantic-ax on Qt: status $?"
read -r tx ty < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "textfield"))')
"$click" "$tx" "$ty" >/dev/null || fail "click into the Qt line edit: status $?"
keymap=$(keyboard)
out=$("$type" text "$text") || fail "vantic-type into Qt: status $?"
# Ç, 東, 京 and 🎉 are not on the US layout: each is typed through a spare key code.
[ "$out" = "pid=$qt_pid sent=text characters=14 remapped=4" ] || fail "type report on Qt: $out"
got=$(qt_text)
[ "$got" = "$text" ] || fail "typed '$text' into Qt, the line edit holds '$got'"
[ "$(keyboard)" = "$keymap" ] || fail "the keymap was $keymap before the run, $(keyboard) after"
echo "'$text' typed into Qt as keys and read back; the keymap is back: $keymap"

# A run killed while the layout carries its characters: the shell puts the user's keymap back.
"$type" key ctrl+a BackSpace >/dev/null || fail "clearing the Qt line edit: status $?"
# Capitals between small letters keep the shell pacing Shift: the run lasts seconds.
"$type" text "é$(printf 'aA%.0s' $(seq 150))" >/dev/null 2>&1 &
runner=$!
for _ in $(seq 100); do
  [ "$(keyboard)" = "$keymap" ] || break
  sleep 0.02
done
during=$(keyboard)
kill -KILL "$runner" 2>/dev/null || true
wait "$runner" 2>/dev/null || true
[[ $during == '["mevrik-typing",'* ]] || fail "the run did not bind its characters: $during"
for _ in $(seq 40); do
  [ "$(keyboard)" != "$keymap" ] || break
  sleep 0.05
done
[ "$(keyboard)" = "$keymap" ] || fail "after a killed run the keymap is $(keyboard), was $keymap"
[ ! -e "$HOME/.config/xkb" ] || fail "the run left $(find "$HOME/.config/xkb")"
got=$(qt_text)
[[ $got == é* ]] && [ ${#got} -lt 301 ] || fail "the killed run typed '$got'"
echo "a run killed during $during typed ${#got} of 301 characters; the keymap is back"
