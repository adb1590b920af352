#!/usr/bin/env bash
# Centres that vantic-click hits under toolkit scaling (GTK GDK_SCALE=2, Qt QT_SCALE_FACTOR=2,
# Chromium --force-device-scale-factor=2) and on an X screen twice as wide as a monitor, with a
# window beyond the first 1280 pixels.
export MEVRIK_SCREEN=2560x800x24
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
gtk_question 300,200
# Beyond the first 1280 pixels: records keep their root-window centres and are not pruned.
gtk_question 1700,300
check 'assert one(d, "button", "Yes")["x"] > 1280, summary(d)'

if [ -n "${AX_QT_APP:-}" ]; then
  qpid=$(launch --name qt -- env QT_SCALE_FACTOR=2 "$AX_QT_APP")
  snap_until 10 'has(d, "button", "Press me")' "${wide[@]}" || fail "qt: $(query 'summary(d)')"
  check 'assert one(d, "button", "Press me")["h"] >= 40, summary(d)'
  click "$(query 'one(d, "button", "Press me")["x"]')" "$(query 'one(d, "button", "Press me")["y"]')"
  snap_until 5 'has(d, "text", "Pressed")' "${wide[@]}" || fail "qt: the button was not hit: $(query 'summary(d)')"
  kill "$qpid"
fi

cpid=$(launch --name chromium -- chromium --no-sandbox --disable-gpu --no-first-run \
  --disable-background-networking --disable-component-update --disable-sync \
  --force-renderer-accessibility --force-device-scale-factor=2 \
  --user-data-dir="$work/chromium-scaled" "file://$work/form.html")
snap_until 30 'has(d, "button", "Send")' "${wide[@]}" || fail "chromium: no page: $(query 'summary(d)')"
check 'assert one(d, "heading", "Sign up")["h"] > 40, summary(d)'
click "$(query 'one(d, "button", "Send")["x"]')" "$(query 'one(d, "button", "Send")["y"]')"
snap_until 10 'd["window"].startswith("Sent")' || fail "chromium: the button was not hit"
kill "$cpid"
echo "screen checks passed"
