#!/usr/bin/env bash
# Installs the Codex CLI (the npm package @openai/codex, at the pinned version below) into
# build/codex (or MEVRIK_CODEX_DIR), where the checks that drive the real client find it. Installs
# npm from Debian first when there is none. Does nothing when that version is already there.
# Prints one line; npm's and apt's output go to build/logs/setup-codex.log (or MEVRIK_SETUP_LOG)
# and are shown only when the installation fails.
set -euo pipefail
version=0.171.0
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/phase.sh"
log=${MEVRIK_SETUP_LOG:-$root/build/logs/setup-codex.log}
dir=${MEVRIK_CODEX_DIR:-$root/build/codex}
codex=$dir/node_modules/.bin/codex
if [ -x "$codex" ] && [ "$("$codex" --version 2>/dev/null)" = "codex-cli $version" ]; then
  exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
command -v npm >/dev/null || [ -z "$sudo" ] || sudo -v
install() {
  if ! command -v npm >/dev/null; then
    $sudo apt-get -o DPkg::Lock::Timeout=900 update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -q npm
  fi
  mkdir -p "$dir"
  npm install --prefix "$dir" --no-audit --no-fund --loglevel=error "@openai/codex@$version"
  "$codex" --version
}
phase "$log" "installing the Codex CLI $version into $dir…" -- install
