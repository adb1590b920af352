#!/usr/bin/env bash
# Centres that vantic-click hits under toolkit scaling (GTK GDK_SCALE=2, Qt QT_SCALE_FACTOR=2,
# Chromium --force-device-scale-factor=2) on a desktop of two monitors side by side. Screen points
# are root-window pixels: the X screen holds both monitors, so a window on the second one keeps
# its records, with centres beyond x 1280 that a click reaches.
export MEVRIK_MONITORS="1280x800+0+0 1280x800+1280+0"
. "$(dirname "$0")/ax_lib.sh"
. "$e2e_dir/ax_matrix_apps.sh"
matrix_pages

# A GTK question dialog at twice the scale, started so that its answer can be read: its status
# says which button the click hit (0 Yes, 1 No). $1 is where to move it first.
gtk_question() {
  rm -f "$work/answer"
  (GDK_SCALE=2 zenity --question --title "Scaled $1" --text "Proceed?" >/dev/null 2>&1
    echo $? >"$work/answer") &
  local win
  win=$(xdotool search --sync --name "^Scaled $1\$" | head -n 1)
  xdotool windowmove --sync "$win" "${1%,*}" "${1#*,}"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
  snap_until 15 'has(d, "button", "Yes")' "${wide[@]}" || fail "gtk $1: no Yes button: $(query 'summary(d)')"
  eval "$(xdotool getwindowgeometry --shell "$win")"
  check '
yes, no = one(d, "button", "Yes"), one(d, "button", "No")
for e in (yes, no):
    assert '"$X"' <= e["x"] < '"$((X + WIDTH))"' and '"$Y"' <= e["y"] < '"$((Y + HEIGHT))"', (e, "'"$X,$Y ${WIDTH}x$HEIGHT"'")
assert yes["w"] > 100, yes  # twice the size of an unscaled button
'
  click "$(query 'one(d, "button", "Yes")["x"]')" "$(query 'one(d, "button", "Yes")["y"]')"
  for _ in $(seq 50); do [ -s "$work/answer" ] && break; sleep 0.1; done
  [ "$(cat "$work/answer" 2>/dev/null)" = 0 ] || fail "gtk $1: the click did not hit Yes ($(cat "$work/answer" 2>/dev/null))"
}
[ "$(xrandr --listmonitors | head -n 1)" = "Monitors: 2" ] || fail "not two monitors: $(xrandr --listmonitors)"
gtk_question 300,200
# On the second monitor: records keep their root-window centres and are not pruned.
gtk_question 1700,300
check 'assert one(d, "button", "Yes")["x"] > 1280, summary(d)'

if [ -n "${AX_QT_APP:-}" ]; then
  # Qt scales per monitor: the window is moved onto the second one before it is read.
  qpid=$(launch --name qt -- env QT_SCALE_FACTOR=2 "$AX_QT_APP")
  xdotool windowmove --sync "$("$desktop" window "$work" "$qpid")" 1500 200
  snap_until 10 'has(d, "button", "Press me")' "${wide[@]}" || fail "qt: $(query 'summary(d)')"
  check 'assert one(d, "button", "Press me")["h"] >= 40 and one(d, "button", "Press me")["x"] > 1500, summary(d)'
  click "$(query 'one(d, "button", "Press me")["x"]')" "$(query 'one(d, "button", "Press me")["y"]')"
  snap_until 5 'has(d, "text", "Pressed")' "${wide[@]}" || fail "qt: the button was not hit: $(query 'summary(d)')"
  kill "$qpid"
fi

# Chromium takes --window-position in its scaled pixels: 700,50 opens it on the second monitor.
cpid=$(launch --name chromium -- chromium --no-sandbox --disable-gpu --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --force-renderer-accessibility --force-device-scale-factor=2 \
  --window-position=700,50 --start-maximized \
  --user-data-dir="$work/chromium-scaled" "file://$work/form.html")
snap_until 30 'has(d, "button", "Send")' "${wide[@]}" || fail "chromium: no page: $(query 'summary(d)')"
# Maximised where it opened, it fills the second monitor, and the page's records lie on it.
eval "$(xdotool getwindowgeometry --shell "$("$desktop" window "$work" "$cpid")")"
[ "$X" -ge 1280 ] && [ "$WIDTH" -le 1280 ] && [ "$WIDTH" -ge 1200 ] ||
  fail "chromium is not maximised on the second monitor: $X,$Y ${WIDTH}x$HEIGHT"
check 'assert one(d, "heading", "Sign up")["h"] > 40 and one(d, "button", "Send")["x"] > 1280, summary(d)'
click "$(query 'one(d, "button", "Send")["x"]')" "$(query 'one(d, "button", "Send")["y"]')"
snap_until 10 'd["window"].startswith("Sent")' || fail "chromium: the button was not hit"
kill "$cpid"
echo "screen checks passed"
