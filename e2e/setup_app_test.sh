#!/usr/bin/env bash
# Mevrik on the test desktop, driven only through vantic-ax and vantic-click: a tray host
# (trayer), a local service offering a newer version, the window, its menu, the uninstall
# dialog, the tray pop-up, and quitting.
. "$(dirname "$0")/ax_lib.sh"
: "${MEVRIK_APP:?set MEVRIK_APP to the Mevrik binary}"
: "${VANTIC_CLICK:?set VANTIC_CLICK to the vantic-click binary}"

# Starts a background process on the desktop, recorded so that the desktop's stop ends it.
background() {
  local name=$1
  shift
  "$@" >"$work/$name.log" 2>&1 &
  echo "$! $name" >>"$work/pids"
}

# The vendor service: GET /latest.json from a folder; the registration POST is answered only
# after 6 s, so that one is still on its way when the application quits.
mkdir -p "$work/service"
manifest() { printf '{"version":"%s","download_url":"https://dl.example.test/mevrik.deb","notes":"%s"}' "$1" "$2" >"$work/service/latest.json"; }
manifest 9.9.9 "速くなりました"
cat >"$work/service.py" <<'PY'
import functools, http.server, socketserver, sys, time
class Handler(http.server.SimpleHTTPRequestHandler):
    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length", 0)))
        time.sleep(6)
        self.send_response(204)
        self.end_headers()
# A plain TCP server: HTTPServer would first look its own name up, which can take seconds.
socketserver.ThreadingTCPServer.daemon_threads = True
server = socketserver.ThreadingTCPServer(
    ("127.0.0.1", 0), functools.partial(Handler, directory=sys.argv[1]))
print("serving on port", server.server_address[1])
server.serve_forever()
PY
background service python3 -u "$work/service.py" "$work/service"
retry 20 grep -q 'port [0-9]' "$work/service.log" ||
  fail "the local service did not start: $(cat "$work/service.log")"
port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/service.log" | head -n 1)
export MEVRIK_SERVICE_URL=http://127.0.0.1:$port

# The tray host comes first: Qt looks for a tray once, at start.
background trayer trayer --edge top --align right --widthtype pixel --width 120 --height 28 \
  --transparent false
tray() { xwininfo -root -tree 2>/dev/null | grep -q '"panel": ("panel" "trayer")'; }
retry 5 tray || true

mpid=$(launch --name Mevrik -- "$MEVRIK_APP")

# The window, with the update banner once the launch check has been answered.
snap_until 15 'has(d, "text", "アップデートがあります")' "${wide[@]}" ||
  fail "no update banner: $(query 'summary(d)')"
check '
assert d["app"] == "Mevrik" and d["window"] == "Mevrik by Fennick", d
for label in ["Mevrik", "by Fennick", "上から順番にボタンを押してください。", "v9.9.9", "速くなりました",
              "デスクトップ操作を許可", "Codexに追加", "MevrikプラグインをCodexへ追加します。",
              "Fennickサービスに接続済み"]:
    one(d, "text", label)
# The test desktop has accessibility on: step 1 is done, step 2 is not.
one(d, "text", "あと1ステップで使えます"); one(d, "text", "完了"); one(d, "text", "未設定")
assert not has(d, "button", "アクセシビリティをオンにする"), summary(d)
for label in ["アップデートをダウンロード", "Codexに追加する", "状態を再確認", "その他"]:
    b = one(d, "button", label)
    assert 0 < b["x"] < 1280 and 0 < b["y"] < 800 and b["w"] > 20 and b["h"] > 15, b
one(d, "text", "状態", "上から順番に設定してください。")
'

# "状態を再確認" reads the plug-in cache again: step 2 turns done.
mkdir -p "$HOME/.codex/plugins/cache/fennick/mevrik/0.1.0"
press 'one(d, "button", "状態を再確認")'
snap_until 10 'has(d, "text", "セットアップ完了")' "${wide[@]}" ||
  fail "refresh did not show the plug-in: $(query 'summary(d)')"

# "その他" > "アップデートを確認": with the service now offering nothing newer, the status line
# says so.
manifest 0.0.1 ""
press 'one(d, "button", "その他")'
snap_until 5 'has(d, "menuitem", "アップデートを確認")' "${wide[@]}" ||
  fail "the menu is not readable: $(query 'summary(d)')"
check '
items = [e["label"] for e in records(d, "menuitem")]
assert items == ["接続チェックを実行", "アップデートを確認", "アンインストール…", "アプリを終了"], items
'
press 'one(d, "menuitem", "アップデートを確認")'
snap_until 10 'one(d, "text", "状態")["value"].startswith("最新版（バージョン")' "${wide[@]}" ||
  fail "the status line did not change: $(query 'summary(d)')"

# The uninstall dialog, cancelled: nothing is removed.
press 'one(d, "button", "その他")'
snap_until 5 'has(d, "menuitem", "アンインストール…")' "${wide[@]}" || fail "no menu"
press 'one(d, "menuitem", "アンインストール…")'
snap_until 5 'has(d, "button", "キャンセル")' "${wide[@]}" ||
  fail "no dialog: $(query 'summary(d)')"
check '
one(d, "text", "Mevrikをアンインストールしますか？")
one(d, "text", "Codexプラグイン、キャッシュ、保存済みAPIキーを削除します。他のプラグインや設定は残ります。")
one(d, "button", "アンインストール")
'
press 'one(d, "button", "キャンセル")'
snap_until 5 'd["window"] == "Mevrik by Fennick" and has(d, "button", "状態を再確認")' "${wide[@]}" ||
  fail "the dialog did not close: $(query 'summary(d)')"
[ -d "$HOME/.codex/plugins/cache/fennick/mevrik" ] || fail "cancel removed the plug-in"

# The tray pop-up: click the icon that trayer embeds (its window is named after the program).
icon=$(xwininfo -root -tree | python3 -c '
import re, sys
for line in sys.stdin:
    m = re.search(r"\"Mevrik\": \(\"Mevrik\" \"Mevrik\"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)", line)
    if m and int(m.group(4)) < 40 and int(m.group(1)) < 64:
        w, h, x, y = map(int, m.groups())
        print(x + w // 2, y + h // 2)
        break
')
[ -n "$icon" ] || fail "no tray icon: $(xwininfo -root -tree | grep -i mevrik)"
"$VANTIC_CLICK" $icon >/dev/null
snap_until 10 'd["window"] == "Mevrik" and has(d, "text", "セットアップ完了")' "${wide[@]}" ||
  fail "no tray pop-up: $(query 'summary(d)')"
check '
b = one(d, "button", "その他")
assert b["x"] > 640 and b["y"] < 800, b  # below the icon at the top right, inside the screen
one(d, "text", "v9.9.9"); one(d, "button", "状態を再確認")
'

# Clicking the icon again closes the pop-up. Closing the window as a task bar would (the test
# desktop's window manager has no mouse bindings, so its title-bar buttons do nothing) leaves the
# application in the tray; a second start brings the window back and ends at once.
"$VANTIC_CLICK" $icon >/dev/null
snap_until 5 'd["window"] == "Mevrik by Fennick"' "${wide[@]}" || fail "the pop-up stayed open"
# One gesture, one activation: a double click opens the pop-up and leaves it open; a middle click
# does nothing.
"$VANTIC_CLICK" $icon double >/dev/null
sleep 1
snap_until 5 'd["window"] == "Mevrik"' "${wide[@]}" || fail "a double click did not leave the pop-up open"
"$VANTIC_CLICK" $icon middle >/dev/null
sleep 1
snap "${wide[@]}"
[ "$(query 'd["window"]')" = "Mevrik" ] || fail "a middle click changed the pop-up: $(query 'summary(d)')"
"$VANTIC_CLICK" $icon >/dev/null
snap_until 5 'd["window"] == "Mevrik by Fennick"' "${wide[@]}" || fail "the pop-up stayed open"
# _NET_CLOSE_WINDOW to the root window: the window manager asks the window to close.
wmctrl -i -c "$(xdotool search --name '^Mevrik by Fennick$' | head -n 1)"
closed() { [ -z "$(xdotool search --onlyvisible --name '^Mevrik by Fennick$' 2>/dev/null)" ]; }
retry 5 closed || fail "the close button did not close the window"
sleep 0.5
kill -0 "$mpid" 2>/dev/null || fail "closing the window ended the application"
timeout 10 "$MEVRIK_APP" || fail "a second start did not end by itself"
snap_until 10 'd["window"] == "Mevrik by Fennick"' "${wide[@]}" ||
  fail "a second start did not bring the window back: $(query 'summary(d)')"
"$VANTIC_CLICK" $icon >/dev/null

# "アプリを終了" from the pop-up's menu: the windows go at once, though the registration the
# pop-up sent is still on its way; the process ends within the registration's grace.
press 'one(d, "button", "その他")'
snap_until 5 'has(d, "menuitem", "アプリを終了")' "${wide[@]}" || fail "no pop-up menu"
press 'one(d, "menuitem", "アプリを終了")'
pressed=$(date +%s%N)
shown() { [ -n "$(xdotool search --onlyvisible --pid "$mpid" 2>/dev/null)" ]; }
while shown && [ $(($(date +%s%N) - pressed)) -lt 5000000000 ]; do sleep 0.05; done
hidden_ms=$((($(date +%s%N) - pressed) / 1000000))
[ $hidden_ms -lt 1000 ] || fail "the windows stayed on screen for $hidden_ms ms after quitting"
# The grace is 2.5 s and the service holds the registration for 6 s: ending before 5.5 s shows
# the grace was kept, with room for a sanitised build's exit on a loaded machine.
ended() { ! kill -0 "$mpid" 2>/dev/null; }
while ! ended && [ $(($(date +%s%N) - pressed)) -lt 5500000000 ]; do sleep 0.05; done
ended || fail "Mevrik did not quit within 5.5 s of the menu item"
echo "setup application checks passed"
