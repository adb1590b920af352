#!/usr/bin/env bash
# vantic-ax on real applications of the matrix, each checked for what an agent needs: a default
# run ends within its bounds; the main controls come with roles, labels and centres inside the
# window; clicking a record's centre with vantic-click hits that control, which the next snapshot
# shows. With arguments, only those applications (names of e2e/ax_matrix_apps.sh); an application
# that is not installed is skipped, and when none was, the check reports itself skipped (77).
. "$(dirname "$0")/ax_lib.sh"
. "$e2e_dir/ax_matrix_apps.sh"
matrix_pages

# check_app NAME CHECK TARGET AFTER: CHECK is run on a wide snapshot; TARGET is a Python
# expression for the record to click; AFTER is the condition the next snapshots must meet.
checked=0
check_app() {
  local app=$1 before=$2 target=$3 after=$4 pid start elapsed
  if ! matrix_installed "$app"; then
    echo "$app: not installed, skipped"
    return 0
  fi
  pid=$(matrix_launch "$app")
  matrix_wait_ready "$app" 60 || fail "$app: not ready: $(query 'summary(d)')"
  start=${EPOCHREALTIME/[.,]/}
  snap
  elapsed=$(((${EPOCHREALTIME/[.,]/} - start) / 1000))
  [ $status -eq 0 ] || fail "$app: status $status"
  # The budget of 0.5 s, at most three 0.6 s timeouts, and the start of a sanitised build.
  [ $elapsed -lt 2500 ] || fail "$app: a default run took ${elapsed} ms"
  echo "$app: default run ${elapsed} ms, $(query 'len(d["elements"])') records, visited $(query 'd["visited"]')"
  snap "${wide[@]}"
  # The window's place on the root window (xdotool's geometry is off by the frame under openbox).
  local info X Y WIDTH HEIGHT
  info=$(xwininfo -id "$(xdotool getactivewindow)")
  X=$(sed -n 's/.*Absolute upper-left X: *//p' <<<"$info")
  Y=$(sed -n 's/.*Absolute upper-left Y: *//p' <<<"$info")
  WIDTH=$(sed -n 's/.*Width: *//p' <<<"$info")
  HEIGHT=$(sed -n 's/.*Height: *//p' <<<"$info")
  check "$before"'
for e in d["elements"]:
    assert '"$X"' <= e["x"] <= '"$((X + WIDTH))"' and '"$Y"' <= e["y"] <= '"$((Y + HEIGHT))"', (e, "'"$X,$Y ${WIDTH}x$HEIGHT"'")
'
  press "$target"
  snap_until 10 "$after" "${wide[@]}" || fail "$app: the click on $target was not seen: $(query 'summary(d)')"
  kill "$pid" 2>/dev/null || true
  checked=$((checked + 1))
}

apps=("$@")
[ ${#apps[@]} -gt 0 ] || apps=(gtk4-calculator gtk3-mousepad qt5-featherpad qt6-qt6ct)
for app in "${apps[@]}"; do
  case $app in
  gtk4-calculator)
    check_app "$app" 'assert d["bundle"] == "org.gnome.Calculator", d["bundle"]' \
      'next(e for e in d["elements"] if e["role"] == "button" and e["label"].split()[:1] == ["7"])' \
      'any(e["role"] == "textarea" and e["value"].startswith("7") for e in d["elements"])' ;;
  gtk3-mousepad | qt5-featherpad)
    check_app "$app" 'one(d, "menu", "Edit"); one(d, "menu", "Help")' 'one(d, "menu", "File")' \
      'has(d, "menuitem", "Quit")' ;;
  qt6-qt6ct)
    check_app "$app" 'one(d, "tab", "Appearance"); one(d, "button", "OK")' 'one(d, "tab", "Fonts")' \
      'has(d, "text", "Fixed width:")' ;;
  firefox)
    check_app "$app" 'assert d["url"] == "file://'"$work"'/form.html", d.get("url"); one(d, "checkbox", "News", "0")' \
      'one(d, "button", "Send")' 'd["window"].startswith("Sent")' ;;
  writer | calc)
    check_app "$app" 'assert "LibreOffice" in d["window"], d["window"]; one(d, "menu", "Edit")' \
      'one(d, "menu", "File")' 'has(d, "menuitem", "Exit LibreOffice")' ;;
  *) fail "unknown application $app" ;;
  esac
done
[ $checked -gt 0 ] || exit 77
echo "desktop application checks passed ($checked)"
