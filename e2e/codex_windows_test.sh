#!/usr/bin/env bash
# The real Codex CLI with the Mevrik plug-in, running in a terminal window in front of
# gtk3-widget-factory and a Qt window (a scripted model on 127.0.0.1 chooses the calls):
#  1. list_windows, focus_window (the Qt window), snapshot with paths, press its check box and
#     set_text its field by path, snapshot: the last snapshot shows both changes;
#  2. in a new terminal that covers the Qt window, a click at the check box's centre with the Qt
#     application's pid as expect_pid is refused, and the refusal names the terminal.
. "$(dirname "$0")/ax_lib.sh"
: "${CODEX:?}" "${BUILD_DIR:?}" "${MEVRIK_MCP:?}" "${AX_QT_APP:?}"
[ -x "$CODEX" ] || { echo "no Codex CLI at $CODEX (tools/setup-codex.sh installs it)"; exit 77; }
source_root=$(cd "$e2e_dir/.." && pwd)

# Codex refuses to make its helper links in a home under /tmp; a scratch home in the build folder.
home=$(mktemp -d "$BUILD_DIR/codex-windows-home.XXXXXX")
servers=()
trap 'kill "${servers[@]}" 2>/dev/null; rm -rf "$home"
      "$desktop" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
export HOME=$home PATH="$(dirname "$CODEX"):$PATH" MEVRIK_MCP

# Starts the scripted model of turn NAME (its log: $work/NAME.log).
serve() {
  python3 "$e2e_dir/codex_model_server.py" "$work/$1.port" "$work/$1.log" "$2" &
  servers+=($!)
}
serve focus '[
  {"call": "list_windows"},
  {"call": "focus_window", "window": {"app": "ax-qt-app"}, "window_fields": {"window": "id"}},
  {"call": "snapshot", "arguments": {"paths": true, "budget": 10}},
  {"call": "press", "pick": {"role": "checkbox", "label": "Remember me"},
   "fields": {"path": "path", "expect_role": "role", "expect_label": "label"}},
  {"call": "set_text", "arguments": {"text": "Ada Lovelace"},
   "pick": {"role": "textfield", "label": "Your name"},
   "fields": {"path": "path", "expect_role": "role", "expect_label": "label"}},
  {"call": "snapshot", "arguments": {"paths": true, "budget": 10}},
  {"say": "Ticked and filled in."}]'
serve guard '[
  {"call": "list_windows"},
  {"call": "snapshot", "arguments": {"budget": 10},
   "window": {"app": "ax-qt-app"}, "window_fields": {"pid": "pid"}},
  {"call": "click", "pick": {"role": "checkbox", "label": "Remember me"},
   "window": {"app": "ax-qt-app"}, "window_fields": {"expect_pid": "pid"}},
  {"say": "The terminal is in the way."}]'

python3 "$source_root/scripts/install_codex.py" >"$work/install.log" 2>&1 &
installer=$!
launch --no-a11y -- gtk3-widget-factory >/dev/null  # only in the way
qt=$(launch -- "$AX_QT_APP")
qt_window=$("$desktop" window "$work" "$qt")
wait $installer || fail "install: $(cat "$work/install.log")"
cp "$HOME/.codex/config.toml" "$work/config.installed"

# One agent turn against the model of `serve NAME`: Codex runs in a new xterm, which comes to
# the front; ARRANGE runs before Codex starts.
turn() {
  local name=$1 arrange=${2:-:}
  retry 30 test -s "$work/$name.port" || fail "the model server did not start"
  # Top-level keys go before the tables the installer wrote.
  {
    printf 'model = "scripted"\nmodel_provider = "scripted"\n\n[model_providers.scripted]\n'
    printf 'name = "scripted"\nbase_url = "http://127.0.0.1:%s/v1"\nwire_api = "responses"\n\n' \
      "$(cat "$work/$name.port")"
    cat "$work/config.installed"
  } >"$HOME/.codex/config.toml"
  # The desktop's launcher gives the terminal the desktop's home; Codex needs this one. Nobody
  # is there to approve the calls that change things in this unattended turn.
  cat >"$work/$name.sh" <<EOF
export HOME="$HOME" PATH="$PATH"
until [ -e "$work/$name.go" ]; do sleep 0.05; done
timeout 120 "$CODEX" exec --skip-git-repo-check --dangerously-bypass-approvals-and-sandbox \
  "Work in the Qt Check window." >"$work/$name.exec.log" 2>&1
echo \$? >"$work/$name.rc"
EOF
  term=$(launch --no-a11y -- xterm -e bash "$work/$name.sh")
  [ "$(xdotool getactivewindow)" = "$("$desktop" window "$work" "$term")" ] ||
    fail "the terminal is not in front"
  $arrange
  touch "$work/$name.go"
  retry 150 test -s "$work/$name.rc" || fail "$name: codex exec did not end"
  [ "$(cat "$work/$name.rc")" = 0 ] || fail "$name: codex exec failed: $(tail -20 "$work/$name.exec.log")"
}

turn focus
python3 - "$work/focus.log" "$qt" <<'PY' || fail "focus turn: $(tail -20 "$work/focus.exec.log")"
import json, sys
steps = [json.loads(line) for line in open(sys.argv[1])]
qt = int(sys.argv[2])
calls = [s.get("call") for s in steps]
assert calls == ["list_windows", "focus_window", "snapshot", "press", "set_text", "snapshot",
                 None], calls
assert "mcp__mevrik" in steps[0]["tools"], steps[0]["tools"]
def document(step):
    return json.loads([l for l in steps[step]["previous_output"].splitlines() if l.startswith("{")][-1])
windows = document(1)["windows"]
assert windows[0]["app"] == "XTerm" and windows[0]["focused"], windows[0]
focused = document(2)
assert focused["pid"] == qt and focused["focused"], focused
assert document(3)["app"] == "ax-qt-app", document(3)
pressed, typed, after = document(4), document(5), document(6)
assert pressed["value"] == "1" and pressed["changed"], pressed
assert typed["value"] == "Ada Lovelace", typed
records = {(e["role"], e["label"]): e for e in after["elements"]}
assert records[("checkbox", "Remember me")]["value"] == "1", after
assert records[("textfield", "Your name")]["value"] == "Ada Lovelace", after
print("focus turn: list_windows, focus_window, snapshot, press, set_text, snapshot shows both")
PY

# The new terminal covers the Qt window: its check box's centre is the terminal's.
cover() {
  xdotool windowmove --sync "$qt_window" 100 100
  xdotool windowmove --sync "$("$desktop" window "$work" "$term")" 50 50
}
turn guard cover
python3 - "$work/guard.log" "$qt" "$term" <<'PY' || fail "guard turn: $(tail -20 "$work/guard.exec.log")"
import json, sys
steps = [json.loads(line) for line in open(sys.argv[1])]
qt, term = int(sys.argv[2]), int(sys.argv[3])
calls = [s.get("call") for s in steps]
assert calls == ["list_windows", "snapshot", "click", None], calls
click = steps[2]["arguments"]
assert click["expect_pid"] == qt and "x" in click, click
refusal = steps[3]["previous_output"]
assert "refused" in refusal and '"XTerm" (pid %d)' % term in refusal, refusal
assert "What to do: focus_window" in refusal, refusal
print("guard turn: click at (%d, %d) refused:" % (click["x"], click["y"]),
      [l for l in refusal.splitlines() if "refused" in l][0])
PY
echo "codex windows checks passed"
