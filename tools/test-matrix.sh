#!/usr/bin/env bash
# The heavy part of the application matrix, kept out of CI for its size: installs Firefox ESR and
# LibreOffice Writer and Calc (about 400 MB), builds like tools/test.sh, and runs the checks
# labelled "heavy" (e2e_ax_heavy_apps: each application's main controls, a default run within its
# bounds, a click that lands; package_clean_root_trixie: the .deb built, installed and used in a
# minimal Debian 13 root, as tools/test.sh does in a Debian 12 one; e2e_kwin: the tools on a
# headless KWin). Then prints the benchmark of every installed application of the matrix
# (bench/ax_matrix.sh: vantic-ax against the pyatspi walk).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MEVRIK_BUILD_DIR:-$root/build/matrix}
"$root/tools/setup-debian.sh"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
  --no-install-recommends firefox-esr libreoffice-writer libreoffice-calc libreoffice-gtk3
# KWin (e2e_kwin), without Plasma's recommended desktop.
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
  --no-install-recommends kwin-wayland
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j "$(nproc)" --target vantic-ax vantic-click ax_qt_app \
  vantic-click-wayland vantic-type vantic-shot vantic-win kwin_client
(cd "$build" && ctest --output-on-failure -L heavy "$@")
bash "$root/bench/ax_matrix.sh" "$build/ax/vantic-ax" 3
