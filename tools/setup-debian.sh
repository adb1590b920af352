#!/usr/bin/env bash
# Installs the Debian packages listed in tools/debian-packages.txt. Runs as root (CI) or through
# sudo; does nothing when everything is already installed. Prints one line; apt's own output goes
# to build/logs/setup-debian.log (or MEVRIK_SETUP_LOG) and is shown only when it fails.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/phase.sh"
log=${MEVRIK_SETUP_LOG:-$here/../build/logs/setup-debian.log}
mapfile -t packages < <(grep -v '^\s*#' "$here/debian-packages.txt" | sed '/^\s*$/d')
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
# sudo may need to ask for a password, which must not vanish into the log.
[ -z "$sudo" ] || sudo -v
install() {
  $sudo apt-get -o DPkg::Lock::Timeout=900 update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -q "${missing[@]}"
}
n=${#missing[@]}
phase "$log" "installing $n Debian package$([ "$n" -eq 1 ] || echo s)…" -- install
