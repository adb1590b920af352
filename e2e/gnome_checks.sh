#!/usr/bin/env bash
# The tools on a real GNOME Shell session (started by gnome_session.sh, as a plain user) through
# Mevrik's shell extension, with native Wayland applications, GTK 3 and Qt 6: the installer's
# report, launch, the window list, focus, a snapshot whose centres are those of the elements, a
# screenshot of the window's size, the same on a monitor scaled by 2, and the one-line refusal
# where the extension does not answer.
#
#   gnome_checks.sh BUILD_DIR [QT_APP]
set -euo pipefail
build=$1 qt_app=${2:-}
ax=$build/ax/vantic-ax win=$build/win/vantic-win shot=$build/shot/vantic-shot
click=$build/click/vantic-click
work=$MEVRIK_GNOME_BASE
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
# Prints what a Python expression gives for JSON file $2 (the document d).
pick() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($1)" "$2"; }

# Installed from nothing before the shell started; run again now, it finds the extension running.
grep -qx "added the extension to org.gnome.shell enabled-extensions" "$work/installer.out" ||
  fail "the installer said: $(cat "$work/installer.out")"
bash "$MEVRIK_REPO/scripts/install_gnome_extension.sh" | grep -qx "the extension is running" ||
  fail "a second installation did not find the extension running"

# pyatspi's answer to where the application's first check box on show lies, relative to its
# window, and the window's size: "EX EY FW FH" (application NAME with process PID).
atspi_at() {
  python3 - "$@" <<'PY'
import sys, pyatspi
name, pid = sys.argv[1], int(sys.argv[2])
def walk(node, depth=0):
    if depth > 40: return
    yield node
    for child in node:
        if child is not None: yield from walk(child, depth + 1)
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.name == name and a.get_process_id() == pid)
frame = next(f for f in app if f.getState().contains(pyatspi.STATE_SHOWING))
fe = frame.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
for node in walk(frame):
    if node.getRoleName() != "check box" or not node.getState().contains(pyatspi.STATE_SHOWING): continue
    e = node.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    print(e.x + e.width // 2, e.y + e.height // 2, fe.width, fe.height)
PY
}

# display LOGICAL_MONITORS: applies a layout of the session's two monitors (a(iiduba(ssa{sv})) of
# org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig, for this session only).
display() {
  local serial
  serial=$(gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
    --method org.gnome.Mutter.DisplayConfig.GetCurrentState | sed -n 's/^(uint32 \([0-9]*\),.*/\1/p')
  gdbus call --session --dest org.gnome.Mutter.DisplayConfig --object-path /org/gnome/Mutter/DisplayConfig \
    --method org.gnome.Mutter.DisplayConfig.ApplyMonitorsConfig "$serial" 1 "$1" "@a{sv} {}" >/dev/null ||
    fail "the monitors' layout $1 was refused"
}
# The shell starts with the 2560x1600 monitor first, where new windows open, the 1280x800 one
# right of it, both at scale 1.
scale=1

# check_app NAME CMD...: starts the application (NAME on the accessibility bus) with vantic-win
# launch and checks the tools on its window, on the primary monitor (whose toolkits' coordinates
# are `scale` times smaller than the layout's); leaves it running, its window id in $app_window and
# its pid in $app_pid.
check_app() {
  local name=$1 pid
  shift
  "$win" launch --timeout 60 -- "$@" >"$work/launch.json" ||
    fail "$name: vantic-win launch status $?: $(cat "$work/launch.json")"
  pid=$(pick 'd["pid"]' "$work/launch.json")
  [ "$(pick 'd["w"] > 200 and d["h"] > 200' "$work/launch.json")" = True ] ||
    fail "$name: launch gave $(cat "$work/launch.json")"
  "$win" list >"$work/list.json"
  [ "$(pick "[w['pid'] for w in d['windows']].count($pid)" "$work/list.json")" = 1 ] ||
    fail "$name: vantic-win list did not show its window: $(cat "$work/list.json")"
  "$win" focus --pid "$pid" >"$work/focus.json" || fail "$name: vantic-win focus status $?: $(cat "$work/focus.json")"
  [ "$(pick "d['pid'] == $pid and d['focused'] and d['w'] > 200" "$work/focus.json")" = True ] ||
    fail "$name: focus gave $(cat "$work/focus.json")"
  read -r id fx fy fw fh < <(pick '" ".join(str(d[k]) for k in ("id", "x", "y", "w", "h"))' "$work/focus.json")
  # launch answered with the window where the shell placed it, not where it was first sized.
  [ "$(pick '(d["id"], d["x"], d["y"])' "$work/launch.json")" = "($id, $fx, $fy)" ] ||
    fail "$name: launch gave $(cat "$work/launch.json"), focus $(cat "$work/focus.json")"
  "$win" list >"$work/list.json"
  [ "$(pick "d['windows'][0]['id'] == $id and d['windows'][0]['focused']" "$work/list.json")" = True ] ||
    fail "$name: the focused window is not first in $(cat "$work/list.json")"

  # A toolkit registers its tree a moment after its window maps; the sanitised build on a busy
  # machine needs a wide budget.
  for _ in 1 2 3 4 5; do
    "$ax" --budget 20 >"$work/snap.json" || fail "$name: vantic-ax status $?: $(head -c 300 "$work/snap.json")"
    [ "$(pick 'sum(1 for e in d.get("elements", []) if e["role"] == "checkbox")' "$work/snap.json")" -ge 1 ] && break
    sleep 1
  done
  [ "$(pick 'd["app"]' "$work/snap.json")" = "$name" ] || fail "$name: snapshot $(head -c 300 "$work/snap.json")"
  [ -z "${MEVRIK_GNOME_KEEP:-}" ] || cp "$work/snap.json" "$MEVRIK_GNOME_KEEP-$name.json"
  "$ax" --pid "$pid" --budget 20 >"$work/snap-pid.json"
  "$ax" --window "$id" --budget 20 >"$work/snap-window.json"
  for target in pid window; do
    [ "$(pick '[(e["role"], e["x"], e["y"]) for e in d["elements"]]' "$work/snap-$target.json")" = \
      "$(pick '[(e["role"], e["x"], e["y"]) for e in d["elements"]]' "$work/snap.json")" ] ||
      fail "$name: --$target $id gave other records: $(head -c 300 "$work/snap-$target.json")"
  done

  # A check box's centre is where the application puts it, relative to its window, times the
  # scale, plus where the window's coordinates start on the screen: the buffer's origin for GTK
  # (whose window reports the whole buffer), inside Qt's own title bar and borders for Qt.
  local cx cy ex ey aw ah
  read -r cx cy < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "checkbox"))' "$work/snap.json")
  read -r ex ey aw ah < <(atspi_at "$name" "$pid" | head -n 1)
  local ox oy
  read -r ox oy < <(gdbus call --session --dest com.fennick.Mevrik.Shell --object-path /com/fennick/Mevrik/Shell \
    --method com.fennick.Mevrik.Shell.ListWindows | python3 -c '
import ast, json, sys
w = next(w for w in json.loads(ast.literal_eval(sys.stdin.read())[0]) if w["id"] == int(sys.argv[1]))
s = int(sys.argv[4]); f, b, aw, ah = w["frame"], w["buffer"], int(sys.argv[2]) * s, int(sys.argv[3]) * s
if aw >= f["width"]: print(b["x"], b["y"])
else: side = (f["width"] - aw) // 2; print(f["x"] + side, f["y"] + f["height"] - ah - side)' "$id" "$aw" "$ah" "$scale")
  # Within a pixel: the snapshot halves the scaled width, pyatspi the toolkit's.
  [ $(((ox + ex * scale - cx) ** 2)) -le 1 ] && [ $(((oy + ey * scale - cy) ** 2)) -le 1 ] ||
    fail "$name: the first check box is at $ex,$ey in a ${aw}x$ah window whose origin is $ox,$oy, at scale $scale; the snapshot says $cx,$cy"

  "$win" at "$cx" "$cy" >"$work/at.json" || fail "$name: vantic-win at $cx $cy status $?"
  [ "$(pick 'd["id"]' "$work/at.json")" = "$id" ] || fail "$name: at $cx,$cy gave $(cat "$work/at.json")"

  # A screenshot of the window: its frame within the box around both monitors (3840x1600 in both
  # layouts), at scale 1, as the layout counts the monitors' own pixels.
  local sx=$((fx < 0 ? 0 : fx)) sy=$((fy < 0 ? 0 : fy)) sw sh
  sw=$(($((fx + fw > 3840 ? 3840 : fx + fw)) - sx)) sh=$(($((fy + fh > 1600 ? 1600 : fy + fh)) - sy))
  "$shot" "$work/window.png" >"$work/shot.out" || fail "$name: vantic-shot status $?"
  grep -qx "pid=$pid file=$work/window.png x=$sx y=$sy width=$sw height=$sh image=${sw}x$sh scale=1" \
    "$work/shot.out" || fail "$name: shot report $(cat "$work/shot.out") (window ${sw}x$sh at $sx,$sy)"
  python3 -c "
import struct
with open('$work/window.png', 'rb') as f: head = f.read(24)
assert head[:8] == b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', head[16:24]) == ($sw, $sh), head"
  [ -z "${MEVRIK_GNOME_KEEP:-}" ] || cp "$work/window.png" "$MEVRIK_GNOME_KEEP-$name.png"
  echo "$name at scale $scale: launched, listed, focused, check box at $cx,$cy, 'at' names window $id, ${sw}x$sh screenshot"
  app_window=$id app_pid=$pid
}

# The pointer: the first check box in the snapshot switches when clicked at its centre.
click_check_box() {
  local name=$1 cx cy before
  read -r cx cy before < <(pick '" ".join(str(v) for v in next((e["x"], e["y"], e["value"]) for e in d["elements"] if e["role"] == "checkbox" and not e["disabled"]))' "$work/snap.json")
  "$click" "$cx" "$cy" >/dev/null || fail "$name: vantic-click $cx $cy status $?"
  "$ax" --budget 20 >"$work/snap.json" || fail "$name: vantic-ax status $?"
  [ "$(pick "next(e['value'] for e in d['elements'] if (e['role'], e['x'], e['y']) == ('checkbox', $cx, $cy))" "$work/snap.json")" = $((1 - before)) ] ||
    fail "$name: the check box at $cx,$cy did not switch from $before"
  echo "$name at scale $scale: the check box at $cx,$cy switched"
}

check_app gtk3-widget-factory gtk3-widget-factory
gtk_window=$app_window gtk_pid=$(pick 'd["pid"]' "$work/launch.json") qt_pid=
if [ -n "$qt_app" ]; then
  check_app ax-qt-app "$qt_app"
  qt_pid=$(pick 'd["pid"]' "$work/launch.json")
  # Back to the GTK window, now behind the Qt one, by its id.
  "$win" focus "$gtk_window" >"$work/focus.json" || fail "focus $gtk_window status $?"
  "$win" list >"$work/list.json"
  [ "$(pick "[w['id'] for w in d['windows']][:2] == [$gtk_window, $app_window]" "$work/list.json")" = True ] ||
    fail "after focusing $gtk_window the list is $(cat "$work/list.json")"
fi
# Pointer and keys, on the GTK window in front, then text into the Qt one.
bash "$MEVRIK_REPO/e2e/gnome_input_checks.sh" "$build" "$gtk_pid" $qt_pid ||
  fail "the pointer and key checks failed"
kill "$gtk_pid" $qt_pid

# The 2560x1600 monitor scaled by 2 first, the other right of it. Mutter then lays the monitors
# out in their own pixels (without its experimental scale-monitor-framebuffer), so the toolkits'
# coordinates are half the layout's. The widget factory is wider than the monitor and reaches
# onto the next one.
display "[(0, 0, 2.0, 0, true, [('Meta-1', '2560x1600@60.000', @a{sv} {})]),
  (2560, 0, 1.0, 0, false, [('Meta-0', '1280x800@60.000', @a{sv} {})])]"
scale=2
if [ -n "$qt_app" ]; then
  check_app ax-qt-app "$qt_app"
  click_check_box ax-qt-app
  kill "$app_pid"
fi
check_app gtk3-widget-factory gtk3-widget-factory
click_check_box gtk3-widget-factory
kill "$app_pid"

# Qt draws at the scale of the first monitor the shell announces (the 2x one) on every monitor,
# while Mutter sizes its window by the monitor it is on: started on the 1x monitor (where the
# pointer is, so Mutter places it there) its window is twice what Qt draws and no centre would
# hold. The snapshot is refused in one line instead.
if [ -n "$qt_app" ]; then
  gdbus call --session --dest com.fennick.Mevrik.Shell --object-path /com/fennick/Mevrik/Shell \
    --method com.fennick.Mevrik.Shell.PointerMotion 3000 400 >/dev/null || fail "the pointer did not move"
  "$win" launch --timeout 60 -- "$qt_app" >"$work/launch.json" ||
    fail "ax-qt-app on the 1x monitor: vantic-win launch status $?: $(cat "$work/launch.json")"
  qt_pid=$(pick 'd["pid"]' "$work/launch.json")
  [ "$(pick 'd["x"] >= 2560' "$work/launch.json")" = True ] ||
    fail "ax-qt-app did not open on the 1x monitor: $(cat "$work/launch.json")"
  "$win" focus --pid "$qt_pid" >/dev/null || fail "ax-qt-app on the 1x monitor: focus status $?"
  for _ in 1 2 3 4 5; do
    status=0
    "$ax" --budget 20 >"$work/snap.json" || status=$?
    [ $status != 0 ] && break
    sleep 1
  done
  [ $status = 3 ] && [ "$(wc -l <"$work/snap.json")" = 1 ] &&
    grep -q "^{\"error\":\"Wayland session: GNOME Shell shows the window [0-9]* at 2[.0-9]* times its application's size on a monitor of scale 1, .*; no snapshot was taken\"}$" "$work/snap.json" ||
    fail "ax-qt-app on the 1x monitor beside the 2x one: status $status, $(head -c 300 "$work/snap.json")"
  echo "ax-qt-app on the 1x monitor beside the 2x one: status 3, $(cat "$work/snap.json")"
  kill "$qt_pid"
fi

# Without the extension each tool says so in one line and does nothing: on a session bus of
# their own the extension does not answer, as when it is not installed or switched off.
alone() { dbus-run-session -- "$@"; }
status=0
alone "$ax" >"$work/refused.json" || status=$?
[ $status = 3 ] && grep -q "^{\"error\":\"Wayland session: vantic-ax needs Mevrik's GNOME Shell extension .* log out and log in once; no snapshot was taken\"}$" "$work/refused.json" ||
  fail "vantic-ax without the extension: status $status, $(cat "$work/refused.json")"
status=0
alone "$shot" "$work/refused.png" 2>"$work/refused.err" || status=$?
[ $status = 1 ] && [ ! -e "$work/refused.png" ] && [ "$(wc -l <"$work/refused.err")" = 1 ] &&
  grep -q "^vantic-shot: Wayland session: .*; no screenshot was taken$" "$work/refused.err" ||
  fail "vantic-shot without the extension: status $status, $(cat "$work/refused.err")"
status=0
alone "$win" list >"$work/refused.json" || status=$?
[ $status = 1 ] && grep -q "^{\"error\":\"Wayland session: vantic-win needs .*; nothing was done\"}$" "$work/refused.json" ||
  fail "vantic-win without the extension: status $status, $(cat "$work/refused.json")"
echo "without the extension: $(cat "$work/refused.err")"
echo "GNOME checks passed"
