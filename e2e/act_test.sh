#!/usr/bin/env bash
# Applications behind a terminal: vantic-ax --pid, --window and --paths read them without
# focusing them, and vantic-act presses a check box and sets a field's text by path in GTK and
# Qt, read back by a snapshot; a path that no longer fits, another element and an element without
# the action are refused and nothing changes.
. "$(dirname "$0")/ax_lib.sh"
: "${VANTIC_ACT:?set VANTIC_ACT to the vantic-act binary}"
: "${AX_QT_APP:?set AX_QT_APP to the Qt test application}"

gtk=$(launch -- gtk3-widget-factory)
qt=$(launch -- "$AX_QT_APP")
launch --no-a11y -- xterm >/dev/null
term=$(xdotool getactivewindow)
[ "$(xdotool getwindowname "$term")" = xterm ] || fail "xterm is not in front"

# Runs vantic-act; the line goes to $work/act.json, the status to $status.
act() {
  status=0
  "$VANTIC_ACT" "$@" >"$work/act.json" || status=$?
}
act_check() {
  python3 - "$work/act.json" "$1" <<'PY'
import sys, os
sys.path.insert(0, os.environ["E2E_DIR"])
from ax_check import *
a = load(sys.argv[1])
exec(sys.argv[2])
PY
}

snap "${wide[@]}"
check 'assert d["app"] == "XTerm" and d["elements"] == [], d'

# GTK by pid: the whole window as when it is in front, each record with its path.
snap "${wide[@]}" --pid "$gtk" --paths
[ $status -eq 0 ] || fail "--pid: status $status"
check '
assert d["app"] == "gtk3-widget-factory" and d["window"] == "gtk3-widget-factory", d["window"]
one(d, "button", "Minimize"); one(d, "radio", "Page 1", "1")
assert all(e["path"] for e in d["elements"]), summary(d)
assert len({e["path"] for e in d["elements"]}) == len(d["elements"])
'
box=$(query '[e for e in records(d, "checkbox", "checkbutton", "0") if not e["disabled"]][0]["path"]')
entry=$(query '[e for e in records(d, "textfield", "", "entry") if not e["disabled"]][0]["path"]')
act "$box" press --pid "$gtk" --expect-role checkbox --expect-label checkbutton
[ $status -eq 0 ] || fail "press: status $status $(cat "$work/act.json")"
act_check 'assert a["value"] == "1" and a["changed"] is True and a["path"] == "'"$box"'", a'
act "$entry" set-text "Grüße" --pid "$gtk" --expect-role textfield
act_check 'assert a["value"] == "Grüße" and a["changed"] is True, a'
snap "${wide[@]}" --pid "$gtk" --paths
check '
p = {e["path"]: e for e in d["elements"]}
assert p["'"$box"'"]["value"] == "1" and p["'"$entry"'"]["value"] == "Grüße", (p["'"$box"'"], p["'"$entry"'"])
'
# Refusals change nothing: a role that is not there, a path past the last child.
act "$box" press --pid "$gtk" --expect-role button
[ $status -eq 6 ] || fail "role mismatch: status $status"
act "$box.7" press --pid "$gtk"
[ $status -eq 5 ] || fail "stale path: status $status $(cat "$work/act.json")"
act "$box" press --pid 999999
[ $status -eq 4 ] || fail "unknown pid: status $status"
# A label has no action of its own.
act "$(query 'records(d, "text", "Inset")[0]["path"]')" press --pid "$gtk"
[ $status -eq 7 ] || fail "no action: status $status $(cat "$work/act.json")"
snap "${wide[@]}" --pid "$gtk" --paths
check 'assert [e for e in d["elements"] if e["path"] == "'"$box"'"][0]["value"] == "1"'

# Qt by window id (hexadecimal, as X11 tools print it).
win=$(printf '0x%x' "$("$desktop" window "$work" "$qt")")
snap "${wide[@]}" --window "$win" --paths
check 'assert d["app"] == "ax-qt-app" and d["window"] == "Qt Check", d'
box=$(query 'one(d, "checkbox", "Remember me", "0")["path"]')
field=$(query 'one(d, "textfield", "Your name")["path"]')
act "$box" press --window "$win" --expect-role checkbox --expect-label "Remember me"
act_check 'assert a["value"] == "1" and a["changed"] is True, a'
act "$field" set-text "Ada" --window "$win" --expect-label "Your name"
act_check 'assert a["value"] == "Ada", a'
snap "${wide[@]}" --window "$win"
check 'one(d, "checkbox", "Remember me", "1"); one(d, "textfield", "Your name", "Ada")
assert "path" not in d["elements"][0]'
snap --window 0x7fffffff
[ $status -eq 4 ] || fail "unknown window: status $status"

[ "$(xdotool getactivewindow)" = "$term" ] || fail "the terminal lost the focus"
echo "act checks passed"
