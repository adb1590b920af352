#!/usr/bin/env bash
# Screenshots of Mevrik for review, taken on the headless test desktop:
#
#   tools/screenshots.sh OUTDIR
#
# writes OUTDIR/01-two-steps.png ... 08-uninstall-dialog.png: the window in its three summary
# states, with the update banner, at 2x scale, the tray pop-up, the open "その他" menu and the
# uninstall dialog. Uses Mevrik, vantic-ax and vantic-click of MEVRIK_BUILD_DIR (default
# build/dev); needs Xvfb, openbox, trayer and ImageMagick (tools/debian-packages.txt).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 1 ] || { echo "usage: tools/screenshots.sh OUTDIR" >&2; exit 2; }
out=$(mkdir -p "$1" && cd "$1" && pwd)
build=${MEVRIK_BUILD_DIR:-$root/build/dev}
app=$build/setup/Mevrik
[ -x "$app" ] || { echo "no $app: build the Mevrik target first" >&2; exit 1; }
desktop=$root/e2e/desktop.sh
work=$(mktemp -d)
trap '"$desktop" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
# Tall enough for the window at 2x.
MEVRIK_SCREEN=1280x1700x24 "$desktop" start "$work" >/dev/null
. "$work/env.sh"

background() {
  local name=$1
  shift
  "$@" >"$work/$name.log" 2>&1 &
  echo "$! $name" >>"$work/pids"
}

# The service: a manifest that the states below change.
mkdir -p "$work/service"
background service python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/service"
for _ in $(seq 100); do grep -q port "$work/service.log" && break; sleep 0.05; done
export MEVRIK_SERVICE_URL=http://127.0.0.1:$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/service.log" | head -n 1)
serve() { printf '{"version":"%s","download_url":"https://dl.example.test/m.deb","notes":"%s"}' "$1" "$2" >"$work/service/latest.json"; }

background trayer trayer --edge top --align right --widthtype pixel --width 120 --height 28 \
  --transparent false
sleep 1

# The desktop's accessibility switch (the permission of step 1) and the plug-in (step 2).
permission() {
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.freedesktop.DBus.Properties.Set org.a11y.Status IsEnabled "<$1>" >/dev/null
}
plugin() {
  rm -rf "$HOME/.codex"
  [ "$1" = false ] || mkdir -p "$HOME/.codex/plugins/cache/fennick/mevrik"
}
# The first-launch prompt would turn the permission on by itself.
mkdir -p "$XDG_CONFIG_HOME/Fennick"
printf '[General]\ndidRequestAccessibilityOnFirstLaunch=true\n' >"$XDG_CONFIG_HOME/Fennick/Mevrik.conf"

pid=""
start() {
  [ -z "$pid" ] || { kill "$pid"; while kill -0 "$pid" 2>/dev/null; do sleep 0.05; done; }
  pid=$("$desktop" launch "$work" --name Mevrik -- env "$@" "$app")
  sleep 1.5
}
shot() { import -window root "$out/$1.png"; echo "$out/$1.png"; }
# Presses the control with role $1 and label $2, found and pressed with our own tools.
press() {
  local point
  point=$("$build/ax/vantic-ax" --budget 5 | python3 -c '
import json, sys
d = json.load(sys.stdin)
e = [e for e in d["elements"] if e["role"] == sys.argv[1] and e["label"] == sys.argv[2]][0]
print(e["x"], e["y"])' "$1" "$2")
  "$build/click/vantic-click" $point >/dev/null
  sleep 0.8
}

serve 0.0.1 ""
permission false; plugin false; start; shot 01-two-steps
permission true; start; shot 02-one-step
plugin true; start; shot 03-complete
serve 9.9.9 "速度を改善し、細かな不具合を修正しました。"
plugin false; start; shot 04-update-banner
start QT_SCALE_FACTOR=2; shot 05-scale-2x
start
press button "その他"; shot 06-more-menu
press menuitem "アンインストール…"; shot 07-uninstall-dialog
press button "キャンセル"
# The tray icon is the last icon of trayer's panel at the top right.
"$build/click/vantic-click" 1268 14 >/dev/null; sleep 1; shot 08-tray-popup
