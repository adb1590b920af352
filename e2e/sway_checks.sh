#!/usr/bin/env bash
# Every tool on a real sway session (started by wayland_session.sh, as a plain user) with a native
# Wayland GTK 3 application: a snapshot, a click on a check box at its record's centre read back
# through AT-SPI, text typed and read back exactly, a screenshot of the window.
#
#   sway_checks.sh BUILD_DIR
set -euo pipefail
build=$1
ax=$build/ax/vantic-ax click=$build/click/vantic-click type=$build/type/vantic-type
shot=$build/shot/vantic-shot
work=$MEVRIK_WAYLAND_BASE
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0}
fail() { echo "FAIL: $*" >&2; exit 1; }

gtk3-widget-factory >"$work/app.log" 2>&1 &
wait_for_window() {
  for _ in $(seq 200); do
    swaymsg -t get_tree | grep -q "\"pid\": $1" && return 0
    sleep 0.1
  done
  fail "no window of process $1"
}
wait_for_window $!

# pyatspi reads back what the tools did at X,Y, with the window's surface at WX,WY: "checked X Y
# WX WY" (whether the check box centred there is checked) or "text X Y WX WY" (the text field's
# text).
atspi() {
  python3 - "$@" <<'PY'
import sys, pyatspi
what = sys.argv[1]
def walk(node, depth=0):
    if depth > 40: return
    yield node
    for child in node:
        if child is not None: yield from walk(child, depth + 1)
app = next(a for a in pyatspi.Registry.getDesktop(0) if a and a.name == "gtk3-widget-factory")
x, y, wx, wy = map(int, sys.argv[2:6])
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

snapshot() { "$ax" --budget 5 >"$work/snap.json" || fail "vantic-ax status $?"; }
# Pick from the snapshot with Python: prints what the expression gives for the document d.
pick() { python3 -c "import json,sys; d=json.load(open(sys.argv[1])); print($1)" "$work/snap.json"; }

snapshot
[ "$(pick 'd["app"]')" = gtk3-widget-factory ] || fail "snapshot: $(head -c 300 "$work/snap.json")"
# The window's place from sway: its surface starts at the client area's corner here.
read -r wx wy ww wh < <(swaymsg -t get_tree | python3 -c '
import json, sys
def walk(n):
    if n.get("app_id") == "gtk3-widget-factory": return n
    for c in n.get("nodes", []) + n.get("floating_nodes", []):
        f = walk(c)
        if f: return f
n = walk(json.load(sys.stdin))
print(n["rect"]["x"] + n["window_rect"]["x"] - n["geometry"]["x"],
      n["rect"]["y"] + n["window_rect"]["y"] - n["geometry"]["y"],
      n["window_rect"]["width"], n["window_rect"]["height"])')

# A check box that can be switched: click its centre, AT-SPI must see it switched.
read -r cx cy label before < <(pick '" ".join(str(v) for v in next((e["x"], e["y"], e["label"], e["value"]) for e in d["elements"] if e["role"] == "checkbox" and not e["disabled"]))')
"$click" "$cx" "$cy" >"$work/click.out" || fail "vantic-click status $?"
grep -Eq '^pid=[0-9]+ delivery=hid\+restore real_cursor_before=\? after=\?$' "$work/click.out" ||
  fail "click report: $(cat "$work/click.out")"
after=$(atspi checked "$cx" "$cy" "$wx" "$wy")
expected=$([ "$before" = 0 ] && echo True || echo False)
[ "$after" = "$expected" ] || fail "check box $label at $cx,$cy: $before -> $after"
echo "click at $cx,$cy switched check box $label"

# Text: click into an empty text field, type, read it back.
read -r tx ty < <(pick '" ".join(str(v) for v in next((e["x"], e["y"]) for e in d["elements"] if e["role"] == "textfield" and not e["disabled"] and not e.get("value")))')
"$click" "$tx" "$ty" >/dev/null || fail "click into the text field"
text='Ça va? 東京 🎉 ok'
"$type" text "$text" >"$work/type.out" || fail "vantic-type status $?"
grep -Eq '^pid=[0-9]+ sent=text characters=14 remapped=4$' "$work/type.out" ||
  fail "type report: $(cat "$work/type.out")"
got=$(atspi text "$tx" "$ty" "$wx" "$wy")
[ "$got" = "$text" ] || fail "typed '$text', the field holds '$got'"
echo "typed and read back: $got"

# A screenshot of the window: the client area's size, at scale 1.
"$shot" "$work/window.png" >"$work/shot.out" || fail "vantic-shot status $?"
grep -Eq "^pid=[0-9]+ file=$work/window.png x=[0-9]+ y=[0-9]+ width=$ww height=$wh image=${ww}x$wh scale=1\$" \
  "$work/shot.out" || fail "shot report: $(cat "$work/shot.out") (window ${ww}x$wh)"
python3 -c "
import struct, sys
with open('$work/window.png', 'rb') as f: head = f.read(24)
assert head[:8] == b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', head[16:24]) == ($ww, $wh), head"
[ -n "${MEVRIK_WAYLAND_KEEP:-}" ] && cp "$work/window.png" "$MEVRIK_WAYLAND_KEEP"
echo "sway checks passed"
