#!/usr/bin/env bash
# The Debian package end to end: builds the release tree, makes mevrik_*.deb with CPack, checks
# its dependencies and contents, installs it with apt-get, runs the tools, the server and the
# installed scripts from PATH, purges it and checks that nothing it installed is left.
# Needs root (or sudo). Usage: deb_test.sh SOURCE_DIR WORK_DIR
set -euo pipefail
source_dir=$1
work=$(mkdir -p "$2" && cd "$2" && pwd)
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo -n"
$sudo true 2>/dev/null || { echo "needs root to install the package"; exit 77; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

build=$work/release
# Built under a strict umask: the package's modes must not depend on the builder's.
(
  umask 077
  cmake -S "$source_dir" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMEVRIK_BUILD_TESTS=OFF \
    -DMEVRIK_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" >/dev/null
  rm -f "$build"/mevrik_*.deb
  cd "$build" && cpack -G DEB >/dev/null
)
deb=$(ls "$build"/mevrik_*.deb)
echo "package: $deb"
# Folders 0755, programs 0755, other files 0644, all owned by root.
bad_modes=$(dpkg-deb -c "$deb" | awk '
  $2 != "root/root" || ($1 ~ /^d/ && $1 != "drwxr-xr-x") ||
  ($1 ~ /^-/ && $1 != "-rw-r--r--" && $1 != "-rwxr-xr-x") { print }')
[ -z "$bad_modes" ] || fail "modes in the package: $bad_modes"

depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for needed in zsh python3 libc6 at-spi2-core qt6-qpa-plugins fonts-noto-cjk; do
  [[ ", $depends," == *", $needed"[\ ,]* ]] || fail "Depends lacks $needed"
done
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|' | grep -v '/$' >"$work/files.txt"
for path in /usr/bin/vantic-ax /usr/bin/vantic-act /usr/bin/vantic-click /usr/bin/vantic-win /usr/bin/mevrik-mcp \
  /usr/share/man/man1/vantic-ax.1.gz /usr/share/man/man1/vantic-click.1.gz \
  /usr/share/man/man1/mevrik-mcp.1.gz /usr/share/man/man1/vantic-act.1.gz /usr/share/man/man1/vantic-win.1.gz \
  /usr/share/mevrik/product/runtime/uv \
  /usr/share/mevrik/product/scripts/install_codex.py /usr/share/mevrik/product/scripts/doctor.sh \
  /usr/share/mevrik/product/scripts/uninstall.py \
  /usr/share/mevrik/product/scripts/install_gnome_extension.sh \
  /usr/share/mevrik/product/gnome-extension/service.js \
  /usr/share/mevrik/product/plugin/.codex-plugin/plugin.json /usr/share/mevrik/product/plugin/.mcp.json; do
  grep -qx "$path" "$work/files.txt" || fail "the package lacks $path"
done

$sudo apt-get -o DPkg::Lock::Timeout=900 purge -y -qq mevrik >/dev/null 2>&1 || true
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=900 install -y -qq "$deb" \
  >"$work/apt.log" 2>&1 || fail "apt-get install: $(tail -20 "$work/apt.log")"
trap '$sudo apt-get -o DPkg::Lock::Timeout=900 purge -y -qq mevrik >/dev/null 2>&1 || true' EXIT

# The tools from PATH, without a display: each fails the way it documents.
[ "$(command -v vantic-ax)" = /usr/bin/vantic-ax ] || fail "vantic-ax is not on PATH"
code=0
env -u DISPLAY vantic-click >/dev/null 2>&1 || code=$?
[ $code -eq 2 ] || fail "vantic-click without arguments: status $code"
code=0
out=$(env -u DISPLAY vantic-win list) || code=$?
[ $code -eq 1 ] && [[ $out == '{"error":"cannot open the X display'* ]] || fail "vantic-win: status $code, $out"
code=0
out=$(env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u AT_SPI_BUS_ADDRESS vantic-ax) || code=$?
[ $code -eq 3 ] && [[ $out == '{"error":'* ]] || fail "vantic-ax: status $code, $out"
code=0
out=$(env -u DISPLAY -u DBUS_SESSION_BUS_ADDRESS -u AT_SPI_BUS_ADDRESS vantic-act 0.1 press) || code=$?
[ $code -eq 3 ] && [[ $out == '{"error":'* ]] || fail "vantic-act: status $code, $out"
# The server from PATH runs the installed tools beside it.
answers=$(printf '%s\n' '{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}}' \
  '{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"click","arguments":{"x":1,"y":1}}}' |
  env -u DISPLAY mevrik-mcp)
[[ $answers == *'"protocolVersion":"2025-06-18"'* ]] || fail "mevrik-mcp initialize: $answers"
[[ $answers == *'vantic-click failed with status 1'* ]] || fail "mevrik-mcp click: $answers"
# The installed product's installer, through its uv, points the plug-in to /usr/bin/mevrik-mcp.
home=$(mktemp -d)
HOME=$home PATH=/usr/bin:/bin /usr/share/mevrik/product/runtime/uv run --no-project --python 3.13 \
  python /usr/share/mevrik/product/scripts/install_codex.py >/dev/null || fail "install_codex.py"
grep -q '"command": "/usr/bin/mevrik-mcp"' "$home/.local/share/mevrik/codex-plugin/.mcp.json" ||
  fail "the laid-out plug-in does not name /usr/bin/mevrik-mcp"
HOME=$home python3 /usr/share/mevrik/product/scripts/uninstall.py >/dev/null || fail "uninstall.py"
rm -rf "$home"
if [ -e /usr/bin/Mevrik ]; then
  ! ldd /usr/bin/Mevrik | grep -q 'not found' || fail "Mevrik misses libraries: $(ldd /usr/bin/Mevrik)"
  # Without a display: one line that says so, status 1 (not Qt's abort).
  code=0
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM Mevrik 2>&1) || code=$?
  [ $code -eq 1 ] && [[ $out == "Mevrik: no display to open the window on"* && $out != *$'\n'* ]] ||
    fail "Mevrik without a display: status $code, $out"
fi

$sudo apt-get -o DPkg::Lock::Timeout=900 purge -y -qq mevrik >/dev/null 2>&1 || fail "purge"
trap - EXIT
dpkg -s mevrik >/dev/null 2>&1 && fail "mevrik is still known to dpkg"
while read -r path; do
  [ ! -e "$path" ] || fail "left after purge: $path"
done <"$work/files.txt"
[ ! -e /usr/share/mevrik ] || fail "left after purge: /usr/share/mevrik"
echo "package checks passed ($(wc -l <"$work/files.txt") files installed and removed)"
