#!/usr/bin/env bash
# Installs the Codex CLI (the npm package @openai/codex, at the pinned version below) into
# build/codex (or MEVRIK_CODEX_DIR), where the checks that drive the real client find it. Installs
# npm from Debian first when there is none. Does nothing when that version is already there.
set -euo pipefail
version=0.171.0
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${MEVRIK_CODEX_DIR:-$root/build/codex}
codex=$dir/node_modules/.bin/codex
if [ -x "$codex" ] && [ "$("$codex" --version 2>/dev/null)" = "codex-cli $version" ]; then
  exit 0
fi
if ! command -v npm >/dev/null; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq npm
fi
mkdir -p "$dir"
echo "installing @openai/codex@$version into $dir"
npm install --prefix "$dir" --no-audit --no-fund --loglevel=error "@openai/codex@$version"
"$codex" --version
