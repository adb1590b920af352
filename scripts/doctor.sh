#!/bin/zsh -f
# Mevrik's connection check: one line per check, in Japanese (the setup application shows the
# output as it is). Exit status 0 only when every check passes. The setup application runs it as
# `zsh -f` (none of the user's startup files); it runs under bash too. Every line goes out through
# printf, since zsh's echo would take backslashes in a path for escapes.
#
# Environment: MEVRIK_BIN_DIR (the folder of vantic-ax, vantic-click and mevrik-mcp; default:
# the installation's bin folder beside the product folder, else PATH), MEVRIK_SERVICE_URL (the
# vendor service), CODEX_HOME (Codex's folder, default ~/.codex).
product=$(cd "$(dirname "$0")/.." && pwd)
failed=0
ok() { printf 'OK: %s\n' "$1"; }
ng() {
  printf 'NG: %s\n' "$1"
  failed=1
}

# A tool: MEVRIK_BIN_DIR, else the installation's bin folder, else PATH.
tool() {
  local dir
  local installed=""
  case $product in */share/mevrik/product) installed="$product/../../../bin" ;; esac
  for dir in "${MEVRIK_BIN_DIR:-}" "$installed"; do
    if [ -n "$dir" ] && [ -x "$dir/$1" ]; then
      printf '%s\n' "$dir/$1"
      return 0
    fi
  done
  command -v "$1" 2>/dev/null
}

ax=$(tool vantic-ax)
click=$(tool vantic-click)
mcp=$(tool mevrik-mcp)

# vantic-click without arguments prints its usage and exits 2: it is there and runs.
if [ -z "$click" ]; then
  ng "vantic-click が見つかりません。Mevrik をインストールし直してください。"
else
  "$click" >/dev/null 2>&1
  if [ $? -eq 2 ]; then ok "vantic-click は実行できます。"; else ng "vantic-click を実行できません ($click)。"; fi
fi

if [ -z "$ax" ]; then
  ng "vantic-ax が見つかりません。Mevrik をインストールし直してください。"
  ng "アクセシビリティを確認できません (vantic-ax がありません)。"
else
  "$ax" --budget 0.5 >/dev/null 2>&1
  code=$?
  case $code in
  0 | 4)
    ok "vantic-ax は実行できます。"
    ok "アクセシビリティは有効です。"
    ;;
  3)
    ok "vantic-ax は実行できます。"
    ng "アクセシビリティが無効です。Mevrik の手順 1 で許可し、対象のアプリを再起動してください。"
    ;;
  *)
    ng "vantic-ax を実行できません (終了コード $code)。"
    ng "アクセシビリティを確認できません。"
    ;;
  esac
fi

marketplace="$HOME/.agents/plugins/marketplace.json"
if python3 - "$marketplace" <<'PY' >/dev/null 2>&1; then
import json, sys
plugins = json.load(open(sys.argv[1], encoding="utf-8")).get("plugins", [])
sys.exit(0 if any(isinstance(p, dict) and p.get("name") == "mevrik" for p in plugins) else 1)
PY
  ok "プラグインはマーケットプレイスに登録されています。"
else
  ng "プラグインがマーケットプレイス ($marketplace) にありません。「Codexに追加する」を押してください。"
fi

cache="${CODEX_HOME:-$HOME/.codex}/plugins/cache"
if [ -d "$cache" ] && find "$cache" -mindepth 2 -maxdepth 2 -name mevrik -type d 2>/dev/null | grep -q .; then
  ok "プラグインは Codex にインストールされています。"
else
  ng "プラグインが Codex にインストールされていません。Codex のプラグイン画面で「インストール」を押してください。"
fi

if [ -z "$mcp" ]; then
  ng "mevrik-mcp が見つかりません。Mevrik をインストールし直してください。"
else
  answer=$(printf '%s\n' \
    '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"doctor","version":"1"}}}' \
    '{"jsonrpc":"2.0","id":2,"method":"tools/list"}' | timeout 10 "$mcp" 2>/dev/null)
  case $answer in
  *'"protocolVersion"'*'"snapshot"'*'"click"'*) ok "mevrik-mcp は応答し、ツールを提供しています。" ;;
  *) ng "mevrik-mcp が応答しません ($mcp)。" ;;
  esac
fi

service="${MEVRIK_SERVICE_URL:-https://mevrik.fennick.example}"
if python3 - "$service" <<'PY' >/dev/null 2>&1; then
import sys, urllib.request
with urllib.request.urlopen(sys.argv[1].rstrip("/") + "/latest.json", timeout=5) as answer:
    sys.exit(0 if answer.status == 200 else 1)
PY
  ok "Mevrik のサービス ($service) に接続できます。"
else
  ng "Mevrik のサービス ($service) に接続できません。ネットワークを確認してください。"
fi

exit $failed
