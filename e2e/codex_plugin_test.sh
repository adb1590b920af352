#!/usr/bin/env bash
# The installer and uninstaller against the real Codex CLI, in a scratch home: after
# install_codex.py Codex lists the plug-in, has installed it into its cache, lists its MCP server
# and, offline, starts the server and offers its tools (`codex debug prompt-input`); another
# plug-in in the same marketplace keeps every field; a second run changes nothing; after
# uninstall.py all of it is gone but the other plug-in. Also: an unreadable marketplace file is
# kept as a backup, and a missing server is a clear failure.
set -euo pipefail
: "${CODEX:?}" "${MEVRIK_MCP:?}" "${BUILD_DIR:?}" "${VERSION:?}"
[ -x "$CODEX" ] || { echo "no Codex CLI at $CODEX (tools/setup-codex.sh installs it)"; exit 77; }
source_root=$(cd "$(dirname "$0")/.." && pwd)
# Codex refuses to make its helper links in a home under /tmp; a scratch home in the build folder.
export HOME
HOME=$(mktemp -d "$BUILD_DIR/codex-plugin-home.XXXXXX")
trap 'rm -rf "$HOME"' EXIT
unset CODEX_HOME
export PATH="$(dirname "$CODEX"):$PATH" MEVRIK_MCP
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
codex() { "$CODEX" "$@" 2>&1; }
install() { python3 "$source_root/scripts/install_codex.py"; }
uninstall() { python3 "$source_root/scripts/uninstall.py"; }
market=$HOME/.agents/plugins/marketplace.json

# A marketplace the user already has, with another plug-in and fields of its own.
mkdir -p "$HOME/.agents/plugins" "$HOME/other/.codex-plugin"
echo '{"name": "other", "version": "1.0.0", "description": "another plug-in"}' \
  >"$HOME/other/.codex-plugin/plugin.json"
cat >"$market" <<'JSON'
{"name": "team", "owner": "someone", "interface": {"displayName": "Team", "x": 1},
 "plugins": [{"name": "other", "source": {"source": "local", "path": "./other"},
              "policy": {"installation": "AVAILABLE"}, "note": "keep me"}]}
JSON
cp "$market" "$HOME/before.json"

install >"$HOME/out.txt" || fail "install: $(cat "$HOME/out.txt")"
python3 - "$market" "$HOME/before.json" <<'PY' || fail "marketplace: $(cat "$market")"
import json, sys
after, before = json.load(open(sys.argv[1])), json.load(open(sys.argv[2]))
assert after["name"] == "team" and after["owner"] == "someone", after
assert after["interface"] == before["interface"], after
assert after["plugins"][0] == before["plugins"][0], after["plugins"]
ours = after["plugins"][1]
assert ours["name"] == "mevrik", ours
assert ours["source"] == {"source": "local", "path": "./.local/share/mevrik/codex-plugin"}, ours
assert ours["policy"]["installation"] == "AVAILABLE", ours
PY
codex plugin list | grep -E "^mevrik@team +installed, enabled +$VERSION " >/dev/null ||
  fail "plugin list: $(codex plugin list)"
cached=$HOME/.codex/plugins/cache/team/mevrik/$VERSION
python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["mcpServers"]["mevrik"]["command"])' \
  "$cached/.mcp.json" | grep -qx "$(readlink -f "$MEVRIK_MCP")" || fail "cache: $(ls -la "$cached")"
grep -q '^\[plugins."mevrik@team"\]' "$HOME/.codex/config.toml" || fail "config.toml"
codex mcp list | grep -E "^mevrik +$(readlink -f "$MEVRIK_MCP") " >/dev/null ||
  fail "mcp list: $(codex mcp list)"
codex debug prompt-input >"$HOME/prompt.json"
grep -q 'mcp__mevrik' "$HOME/prompt.json" || fail "no mcp__mevrik tool namespace in the prompt"
grep -q 'mevrik:desktop' "$HOME/prompt.json" || fail "no mevrik skill in the prompt"

# A second run leaves every file as it was.
snapshot() { find "$HOME/.agents" "$HOME/.local" "$HOME/.codex/plugins" "$HOME/.codex/config.toml" \
  -type f -printf '%p %T@ %s\n' | sort; }
snapshot >"$HOME/first.txt"
install >/dev/null || fail "second install"
snapshot | diff "$HOME/first.txt" - || fail "the second run changed files"

uninstall >"$HOME/out.txt" || fail "uninstall: $(cat "$HOME/out.txt")"
codex plugin list | grep -q '^mevrik@' && fail "still listed: $(codex plugin list)"
codex mcp list | grep -q '^mevrik ' && fail "server still configured: $(codex mcp list)"
[ ! -e "$HOME/.codex/plugins/cache/team/mevrik" ] || fail "cache left"
grep -q 'mevrik@' "$HOME/.codex/config.toml" && fail "config.toml still names the plug-in"
[ ! -e "$HOME/.local/share/mevrik" ] || fail "laid-out plug-in left"
python3 -c 'import json,sys; a,b=(json.load(open(p)) for p in sys.argv[1:]); assert a==b, a' \
  "$market" "$HOME/before.json" || fail "the marketplace is not as before: $(cat "$market")"
uninstall >/dev/null || fail "second uninstall"

# An unreadable marketplace is kept as a backup; the new one, ours alone, goes with uninstall.
echo '{"name": "team", oops' >"$market"
install >"$HOME/out.txt" || fail "install over a broken file: $(cat "$HOME/out.txt")"
grep -q 'marketplace.json.invalid-' "$HOME/out.txt" || fail "no word of the backup: $(cat "$HOME/out.txt")"
grep -q oops "$market".invalid-* || fail "backup missing"
codex plugin list | grep -q '^mevrik@local ' || fail "plugin list: $(codex plugin list)"
uninstall >/dev/null
[ ! -e "$market" ] || fail "a marketplace left empty stays: $(cat "$market")"

# No server to point Codex to: a clear message and status 1.
python=$(python3 -c 'import sys; print(sys.executable)')
if MEVRIK_MCP=/nonexistent PATH=/nonexistent "$python" "$source_root/scripts/install_codex.py" \
  >"$HOME/out.txt"; then fail "install without a server"; fi
grep -q 'mevrik-mcp が見つかりません' "$HOME/out.txt" || fail "message: $(cat "$HOME/out.txt")"
echo "codex plugin checks passed"
