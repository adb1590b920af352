#!/usr/bin/env bash
# vantic-ax on other toolkits: a Qt 6 Widgets window, a zenity dialog and a Chromium page.
. "$(dirname "$0")/ax_lib.sh"

if [ -n "${AX_QT_APP:-}" ]; then
  qpid=$(launch --name qt -- "$AX_QT_APP")
  snap "${wide[@]}"
  [ $status -eq 0 ] || fail "qt: status $status"
  check '
assert d["app"] == "ax-qt-app" and d["window"] == "Qt Check", d
one(d, "menu", "File"); one(d, "menu", "Help")
one(d, "button", "Press me"); one(d, "checkbox", "Remember me", "0")
one(d, "text", "Hello from Qt")
f = focused(d)
assert f and f["role"] == "textfield" and f["label"] == "Your name", (f, summary(d))
'
  press 'one(d, "button", "Press me")'
  snap_until 5 'has(d, "text", "Pressed")' "${wide[@]}" || fail "qt: the label did not change: $(query 'summary(d)')"
  kill "$qpid"
else
  echo "ax_qt_app was not built: Qt check skipped"
fi

# zenity: a GTK dialog of its own, with an entry holding text.
zpid=$(launch -- zenity --entry --title "Zenity check" --text "Your name:" --entry-text "Ada")
snap "${wide[@]}"
check '
assert d["app"] == "zenity" and d["window"] == "Zenity check", d
one(d, "text", "Your name:"); one(d, "textfield", value="Ada")
one(d, "button", "OK"); one(d, "button", "Cancel")
assert focused(d) == one(d, "textfield", value="Ada"), d.get("focused")
'
kill "$zpid"

# Chromium on a local page: the address, and the page's elements with their roles.
page="file://$e2e_dir/ax_page.html"
cpid=$(launch --name chromium -- chromium --no-sandbox --disable-gpu --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --force-renderer-accessibility --user-data-dir="$work/chromium-profile" "$page")
snap_until 20 'has(d, "button", "Press here")' "${wide[@]}" || fail "chromium: no page: $(query 'summary(d)')"
check '
assert d["url"] == "'"$page"'", d.get("url")
assert d["window"].startswith("Mevrik check page"), d["window"]
one(d, "heading", "Mevrik check page")
one(d, "link", "Read the details")
one(d, "textfield", "Type a name")  # Chromium names a field by its placeholder
one(d, "text", "A paragraph of running text.")
assert not any("\ufffc" in e["label"] + e["value"] for e in d["elements"]), summary(d)
'
press 'one(d, "button", "Press here")'
snap_until 10 'd["window"].startswith("Pressed")' || fail "chromium: the button was not hit"
kill "$cpid"
echo "application checks passed"
