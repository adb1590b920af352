#!/usr/bin/env bash
# vantic-ax on gtk3-widget-factory: roles and labels, geometry, hidden pages and menus, focus,
# the window's and the application's names, and the options on a real application.
. "$(dirname "$0")/ax_lib.sh"

pid=$(launch -- gtk3-widget-factory)
win=$(xdotool getactivewindow)
eval "$(xdotool getwindowgeometry --shell "$win")"  # X Y WIDTH HEIGHT of the window
title=$(xdotool getwindowname "$win")

snap "${wide[@]}"
[ $status -eq 0 ] || fail "status $status"
check '
assert d["app"] == "gtk3-widget-factory", d["app"]
assert d["bundle"] == "org.gtk.WidgetFactory", d["bundle"]
assert d["window"] == "'"$title"'", d["window"]
assert d["truncated"] is False and d["visited"] > 100
one(d, "button", "Minimize")
one(d, "radio", "Page 1", "1"); one(d, "radio", "Page 2", "0")
one(d, "checkbox", "checkbutton", "1"); one(d, "checkbox", "checkbutton", "0")
one(d, "radio", "radiobutton")
one(d, "toggle", "togglebutton")
one(d, "textfield", "", "entry")
one(d, "textfield", "placeholder: Click icon to change mode", "")
one(d, "textarea")
one(d, "popup", "Left")
one(d, "stepper", "", "50")
one(d, "slider", "", "50")
one(d, "tab", "page 1"); one(d, "tab", "page 3")
one(d, "cell", "Andrea")
one(d, "text", "label")
assert any(e["disabled"] for e in records(d, "checkbox")), "no disabled check box"
'
# Every centre is a point of the window; nothing comes from a hidden page, a closed menu or popover.
check '
for e in d["elements"]:
    assert '"$X"' <= e["x"] < '"$((X + WIDTH))"' and '"$Y"' <= e["y"] < '"$((Y + HEIGHT))"', e
    assert e["w"] > 1 and e["h"] > 1, e
hidden = {"Donald Duck", "Jet McQuack", "Get Busy", "Dark Theme", "Inspector", "Steak", "Wine",
          "Cash", "Credit Card", "Volume Up", "Description:", "No updates at this time", "File",
          "Otto", "Benjamin"}
# ("Otto" and "Benjamin" are table cells too, but only within the first screen for rows 1-4.)
leaked = [e for e in d["elements"] if e["label"] in hidden and e["role"] != "cell"]
assert not leaked, leaked
'
# The focus: the entry that has the keyboard focus, after a click into it.
enabled_entry='[e for e in records(d, "textfield", "", "entry") if not e["disabled"]][0]'
ex=$(query "$enabled_entry[\"x\"]")
ey=$(query "$enabled_entry[\"y\"]")
click "$ex" "$ey"
sleep 0.3
snap "${wide[@]}"
check '
f = focused(d)
assert f and f["role"] == "textfield" and f["value"] == "entry" and f["x"] == '"$ex"', (f, d.get("focused"))
'

# The options on a real application.
snap --max-elements 5
check 'assert len(d["elements"]) == 5 and d["truncated"] is True, summary(d)'
snap --budget 0
check 'assert d["elements"] == [] and d["visited"] == 1 and d["truncated"] is True, d'
snap --debug
check 'assert d["debug"]["budget"] == 0.5'
snap --debug "${wide[@]}"
check '
dbg = d["debug"]
assert dbg["roles"]["AXWindow"] == 1 and dbg["roles"]["AXButton"] > 0, dbg
assert dbg["roles"].get("AXFiller", 0) > 0 and dbg["child_errors"] == 0 and dbg["budget"] == 10, dbg
assert sum(dbg["roles"].values()) == d["visited"]
'
# Without X11 the application comes from the AT-SPI tree alone (the one with an active window).
snap_env -u DISPLAY -- "${wide[@]}"
[ $status -eq 0 ] || fail "without X11: status $status"
check 'assert d["app"] == "gtk3-widget-factory" and has(d, "button", "Minimize"), d'

# Menu titles on the second page; their items only while a menu is open.
snap "${wide[@]}"
press 'one(d, "radio", "Page 2")'
snap_until 10 'has(d, "menu", "File")' "${wide[@]}" || fail "no menu bar: $(query 'summary(d)')"
check '
for title in ("File", "Edit", "View", "Help"):
    one(d, "menu", title)
assert not records(d, "menuitem"), records(d, "menuitem")
'
press 'one(d, "menu", "File")'
snap_until 10 'has(d, "menuitem", "Quit")' "${wide[@]}" || fail "no open menu: $(query 'summary(d)')"
check 'one(d, "menuitem", "Open"); one(d, "menuitem", "Save As")'
xdotool key Escape

snap --prompt --max-elements 1
[ $status -eq 0 ] || fail "probe status $status"
[ "$(cat "$work/snap.json")" = '{"trusted":true}' ] || fail "probe: $(cat "$work/snap.json")"

# Accessibility turned off: the not-trusted line; the probe turns it on again.
gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled '<false>' >/dev/null
snap
[ $status -eq 3 ] || fail "not trusted: status $status"
check 'assert list(d) == ["error"] and "toolkit-accessibility" in d["error"], d'
snap --prompt
[ $status -eq 0 ] && [ "$(cat "$work/snap.json")" = '{"trusted":true}' ] || fail "prompt did not enable"
snap
[ $status -eq 0 ] || fail "status after the prompt $status"
kill -0 "$pid"
echo "gtk checks passed"
