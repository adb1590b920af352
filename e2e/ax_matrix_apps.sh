# The applications of the snapshot matrix, shared by e2e/ax_matrix_test.sh and bench/ax_matrix.sh.
# Source it after ax_lib.sh (or after starting a desktop in $work with $desktop set).
#   matrix_pages                 writes the generated pages into $work
#   matrix_installed NAME        succeeds when the application NAME can run here
#   matrix_launch NAME           starts it on the desktop, waits for its window, prints its pid
# Names: chromium-table chromium-form firefox writer calc gtk4-calculator qt5-featherpad
#        qt6-qt6ct gtk3-mousepad gtk3-widget-factory
matrix_names="chromium-table chromium-form firefox writer calc gtk4-calculator qt5-featherpad
qt6-qt6ct gtk3-mousepad gtk3-widget-factory"

matrix_pages() {
  python3 - "$work" <<'PY'
import sys
work = sys.argv[1]
# A 5,000-row table: about 50,000 accessible objects, most of them below the screen.
rows = "".join("<tr><td>Row %d</td><td>%d</td><td><a href='#r%d'>open %d</a></td>"
               "<td><button>Act %d</button></td></tr>" % (i, i * 7, i, i, i) for i in range(5000))
open(work + "/table.html", "w").write(
    "<!doctype html><title>Big table</title><h1>Big table</h1>"
    "<button onclick=\"document.title='Pressed'\">Press here</button><table>%s</table>" % rows)
# A form an agent fills in.
open(work + "/form.html", "w").write("""<!doctype html><title>Form page</title>
<h1>Sign up</h1><label>Name <input id=name placeholder="Your name"></label>
<label><input type=checkbox id=news onchange="document.title='Checked '+this.checked"> News</label>
<select><option>One</option><option>Two</option></select>
<button onclick="document.title='Sent'">Send</button>""")
PY
}

matrix_command() {
  local chromium=(chromium --no-sandbox --disable-gpu --no-first-run --disable-background-networking
    --disable-component-update --disable-sync --force-renderer-accessibility
    --user-data-dir="$work/chromium-$1")
  case $1 in
  chromium-table) echo "${chromium[*]} file://$work/table.html" ;;
  chromium-form) echo "${chromium[*]} file://$work/form.html" ;;
  firefox) echo "firefox-esr --no-remote --new-instance --profile $work/firefox file://$work/form.html" ;;
  writer) echo "/usr/lib/libreoffice/program/soffice.bin --writer --norestore --nologo -env:UserInstallation=file://$work/lo" ;;
  calc) echo "/usr/lib/libreoffice/program/soffice.bin --calc --norestore --nologo -env:UserInstallation=file://$work/lo" ;;
  gtk4-calculator) echo "gnome-calculator" ;;
  qt5-featherpad) echo "featherpad" ;;
  qt6-qt6ct) echo "qt6ct" ;;
  gtk3-mousepad) echo "mousepad" ;;
  gtk3-widget-factory) echo "gtk3-widget-factory" ;;
  esac
}

matrix_installed() { command -v "$(matrix_command "$1" | cut -d' ' -f1)" >/dev/null 2>&1; }

# What a snapshot of the application shows once it has built its tree (pages load, LibreOffice
# builds its window lazily): a Python condition on the document `d`, with ax_check.py's helpers.
matrix_ready() {
  case $1 in
  chromium-table) echo 'has(d, "button", "Press here")' ;;
  chromium-form | firefox) echo 'has(d, "button", "Send")' ;;
  writer | calc) echo '"LibreOffice" in d["window"] and len(d["elements"]) > 20' ;;
  *) echo 'len(d["elements"]) > 0' ;;
  esac
}

matrix_launch() {
  mkdir -p "$work/firefox"
  case $1 in
  writer | calc)
    # A new LibreOffice profile makes the first start end with status 81 and start again (in
    # another process): the profile is made first, without a window.
    [ -d "$work/lo" ] || timeout 120 /usr/lib/libreoffice/program/soffice.bin --headless \
      --terminate_after_init "-env:UserInstallation=file://$work/lo" >/dev/null 2>&1 || true
    ;;
  esac
  # Firefox and LibreOffice turn their accessibility on from this variable.
  # shellcheck disable=SC2046
  "$desktop" launch "$work" --name "$1" -- env GNOME_ACCESSIBILITY=1 $(matrix_command "$1")
}

# Waits (at most $2 seconds) until a snapshot with a wide budget shows the application ready.
matrix_wait_ready() {
  local app=$1 deadline=$((SECONDS + $2))
  while [ $SECONDS -lt $deadline ]; do
    "$VANTIC_AX" --budget 5 >"$work/ready.json" 2>/dev/null || true
    python3 -c '
import json, os, sys
sys.path.insert(0, os.environ["E2E_DIR"])
from ax_check import *
try:
    d = json.load(open(sys.argv[1]))
    sys.exit(0 if eval(sys.argv[2]) else 1)
except Exception:
    sys.exit(1)
' "$work/ready.json" "$(matrix_ready "$app")" && return 0
    sleep 0.5
  done
  return 1
}
