#!/usr/bin/env bash
# The whole product with the real Codex CLI on the test desktop: the product installed into a
# prefix, the setup model's "Codexに追加する", "接続チェックを実行" and "アンインストール" actions
# running its scripts from there, and between them one offline agent turn in which Codex itself
# calls snapshot, click on a check box's centre and snapshot again (a scripted model on
# 127.0.0.1 chooses the calls); the second snapshot must show the box ticked.
. "$(dirname "$0")/ax_lib.sh"
: "${CODEX:?}" "${BUILD_DIR:?}" "${MODEL_CLI:?}" "${AX_QT_APP:?}"
[ -x "$CODEX" ] || { echo "no Codex CLI at $CODEX (tools/setup-codex.sh installs it)"; exit 77; }

# Codex refuses to make its helper links in a home under /tmp; a scratch home in the build folder.
home=$(mktemp -d "$BUILD_DIR/codex-agent-home.XXXXXX")
trap '[ -n "${server:-}" ] && kill "$server"; rm -rf "$home"
      "$desktop" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

# The product as a package lays it out; the model's command-line front beside the setup program
# finds share/mevrik/product the way the installed application does.
prefix=$work/prefix
cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null
cp "$MODEL_CLI" "$prefix/bin/"

python3 "$e2e_dir/codex_model_server.py" "$work/port" "$work/model.log" '[
  {"call": "snapshot", "arguments": {"budget": 10}},
  {"call": "click", "pick": {"role": "checkbox", "label": "Remember me", "value": "0"}},
  {"call": "snapshot", "arguments": {"budget": 10}},
  {"say": "The check box is ticked."}]' &
server=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
port=$(cat "$work/port")

export HOME=$home PATH="$(dirname "$CODEX"):$PATH" QT_QPA_PLATFORM=offscreen
export MEVRIK_SERVICE_URL=http://127.0.0.1:$port
model() {
  "$prefix/bin/mevrik-model-cli" "$@" 2>/dev/null >"$work/state.json"
  python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(d["message"]); print(d["codexInstalled"])' \
    "$work/state.json"
}
expect() {
  local got
  got=$(model "$1")
  [ "$got" = "$2" ] || fail "$1: expected [$2], got [$got]"
}

pid=$(launch -- "$AX_QT_APP")  # a window with an unticked check box, "Remember me"
expect install "MevrikプラグインをCodexに追加しました。新しいCodexのセッションから使えます。
True"
expect doctor "接続チェックは正常です。
True"

# Point Codex at the scripted model: top-level keys go before the tables the install wrote.
config=$HOME/.codex/config.toml
{
  printf 'model = "scripted"\nmodel_provider = "scripted"\n\n'
  printf '[model_providers.scripted]\nname = "scripted"\nbase_url = "%s/v1"\nwire_api = "responses"\n\n' \
    "$MEVRIK_SERVICE_URL"
  cat "$config"
} >"$config.new"
mv "$config.new" "$config"
# Codex asks before a tool that is not read-only (click); nobody is there to answer in this
# unattended turn, so approvals are bypassed for it.
timeout 300 "$CODEX" exec --skip-git-repo-check --dangerously-bypass-approvals-and-sandbox \
  "Tick the check box." >"$work/exec.log" 2>&1 ||
  fail "codex exec failed: $(tail -20 "$work/exec.log")"

python3 - "$work/model.log" <<'PY' || fail "agent turn: $(tail -20 "$work/exec.log")"
import json, sys
steps = [json.loads(line) for line in open(sys.argv[1])]
calls = [s.get("call") for s in steps]
assert calls == ["snapshot", "click", "snapshot", None], calls
assert "mcp__mevrik" in steps[0]["tools"], steps[0]["tools"]
def document(text):
    return json.loads([l for l in text.splitlines() if l.startswith("{")][-1])
box = steps[1]["arguments"]
assert "x" in box and "y" in box, steps[1]
assert "delivery=" in steps[2]["previous_output"], steps[2]["previous_output"]
after = document(steps[3]["previous_output"])
ticked = [e for e in after["elements"] if e["role"] == "checkbox" and (e["x"], e["y"]) == (box["x"], box["y"])]
assert ticked and ticked[0]["value"] == "1", ticked
print("agent turn: snapshot, click at (%d, %d), snapshot shows the box ticked" % (box["x"], box["y"]))
PY

expect uninstall "Codex連携を削除しました。アプリを終了してゴミ箱へ移動できます。
False"
"$CODEX" mcp list 2>&1 | grep -q mevrik && fail "the server is still configured after uninstall"
kill "$pid"
echo "codex agent checks passed"
