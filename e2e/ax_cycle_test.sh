#!/usr/bin/env bash
# The agent's cycle on real applications: snapshot, click a record's centre, snapshot again and see
# the change. Also with toolkit scaling, where a centre must still be a root-window point.
. "$(dirname "$0")/ax_lib.sh"

pid=$(launch -- gtk3-widget-factory)
snap "${wide[@]}"
# An enabled check box that is off: after a click on its centre, the same box is on.
pick='[e for e in records(d, "checkbox", "checkbutton", "0") if not e["disabled"]][0]'
cx=$(query "$pick[\"x\"]")
cy=$(query "$pick[\"y\"]")
click "$cx" "$cy"
sleep 0.3
snap "${wide[@]}"
check '
box = [e for e in records(d, "checkbox") if (e["x"], e["y"]) == ('"$cx"', '"$cy"')]
assert box and box[0]["value"] == "1", box
assert focused(d) == box[0], d.get("focused")
'

# A button that opens a dialog: the next snapshot walks the dialog.
press 'one(d, "button", "Sans Regular")'
snap_until 10 'd["window"] == "Pick a Font"' "${wide[@]}" || fail "no dialog: $(cat "$work/snap.json")"
check '
one(d, "button", "Cancel"); one(d, "button", "Select")
one(d, "textfield", "Search")
assert d["app"] == "gtk3-widget-factory" and d["bundle"] == "org.gtk.WidgetFactory", d
assert not has(d, "checkbox", "checkbutton"), "the main window was walked"
'
press 'one(d, "button", "Cancel")'
snap_until 10 'd["window"] != "Pick a Font"' || fail "the dialog did not close"
kill "$pid"

# Toolkit scaling: GTK reports its extents in its own units; the record's centre must still hit.
# zenity prints the entry's text on OK and nothing on Cancel, which tells which button was hit.
for answer in OK Cancel; do
  zpid=$(GDK_SCALE=2 launch --name "zenity-$answer" -- zenity --entry --entry-text "typed-$answer")
  snap "${wide[@]}"
  check '
b = one(d, "button", "'"$answer"'")
assert b["h"] > 50, b  # root-window pixels, twice the toolkit units
one(d, "textfield", value="typed-'"$answer"'")
'
  press 'one(d, "button", "'"$answer"'")'
  for _ in $(seq 100); do kill -0 "$zpid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$zpid" 2>/dev/null && fail "zenity still runs after the click on $answer"
  if [ $answer = OK ]; then
    grep -qx "typed-OK" "$work/zenity-OK.log" || fail "OK was not hit: $(cat "$work/zenity-OK.log")"
  else
    ! grep -q "typed" "$work/zenity-Cancel.log" || fail "Cancel was not hit"
  fi
done
echo "cycle checks passed"
