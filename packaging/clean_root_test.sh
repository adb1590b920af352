#!/usr/bin/env bash
# The package on a clean Debian system: a minimal root (debootstrap --variant=minbase, from this
# machine's own Debian mirror, kept between runs in $MEVRIK_ROOTS, default /var/cache/mevrik-roots),
# the .deb installed there with apt-get so that only its declared dependencies come in, every
# program of the package run from PATH inside it, the setup application shown on an X server of
# this machine (its socket bound into the root) with a check that its Japanese text is drawn with
# real glyphs, then the package purged and nothing of it left.
# Needs root. Usage: clean_root_test.sh RELEASE DEB|FOLDER_OF_IT WORK_DIR  (RELEASE: bookworm, trixie)
# Leaves in WORK_DIR/RELEASE: pulled-in.txt (the packages apt added), mevrik.png (the window) and
# tofu.png (the same window with a font that has no Japanese glyphs), log.txt.
set -euo pipefail
release=$1
deb=$(readlink -f "$2")
[ ! -d "$deb" ] || deb=$(ls "$deb"/mevrik_*.deb)
work=$(mkdir -p "$3/$1" && cd "$3/$1" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "needs root (debootstrap, chroot, mounts)"; exit 77; }
for tool in debootstrap Xvfb import compare; do
  command -v "$tool" >/dev/null || { echo "needs $tool"; exit 77; }
done
roots=${MEVRIK_ROOTS:-/var/cache/mevrik-roots}
started=$(date +%s)
log=$work/log.txt
: >"$log"
fail() {
  echo "FAIL ($release): $*" >&2
  echo "log: $log" >&2
  exit 1
}
step() { printf '%s [%ss] %s\n' "$release" "$(($(date +%s) - started))" "$*"; }

# The mirror this machine installs from (deb822 sources first, then sources.list).
mirror=$(awk '/^URIs:/ && $2 ~ /debian\/?$/ { print $2; exit }' /etc/apt/sources.list.d/*.sources \
  2>/dev/null || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" && $2 ~ /debian\/?$/ { print $2; exit }' \
  /etc/apt/sources.list 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

# The pristine root, made once per release; runs use it read-only under an overlay.
mkdir -p "$roots"
pristine=$roots/$release
exec 9>"$roots/$release.lock"
flock 9
if [ ! -x "$pristine/usr/bin/apt-get" ]; then
  step "debootstrap --variant=minbase $release from $mirror"
  rm -rf "$pristine.tmp"
  debootstrap --variant=minbase "$release" "$pristine.tmp" "$mirror" >>"$log" 2>&1 ||
    fail "debootstrap: $(tail -5 "$log")"
  mv "$pristine.tmp" "$pristine"
fi
# Downloaded packages are kept too (apt's archive folder is bound to this one).
archives=$roots/$release-archives
mkdir -p "$archives/partial"

root=$work/root
mounts=()
display=""
mevrik=""
cleanup() {
  [ -z "$mevrik" ] || stop_mevrik
  [ -z "$display" ] || kill "$xvfb" 2>/dev/null || true
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount -l "${mounts[i]}" 2>/dev/null || true; done
  rm -rf "$work/upper" "$work/overlay-work"
}
trap cleanup EXIT
bind() { # bind SOURCE TARGET_IN_ROOT
  mkdir -p "$root$2"
  mount --bind "$1" "$root$2"
  mounts+=("$root$2")
}
rm -rf "$work/upper" "$work/overlay-work"
mkdir -p "$work/upper" "$work/overlay-work" "$root"
mount -t overlay overlay -o "lowerdir=$pristine,upperdir=$work/upper,workdir=$work/overlay-work" \
  "$root"
mounts+=("$root")
mount -t proc proc "$root/proc"
mounts+=("$root/proc")
bind /dev /dev
bind /dev/pts /dev/pts
bind /sys /sys
bind "$archives" /var/cache/apt/archives
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"; }

step "apt-get install $(basename "$deb")"
in_root apt-get update -qq >>"$log" 2>&1 || fail "apt-get update: $(tail -5 "$log")"
in_root dpkg-query -W -f '${Package}\n' | sort >"$work/before.txt"
cp "$deb" "$root/tmp/"
in_root apt-get install -y -q -o DPkg::Options::=--force-unsafe-io "/tmp/$(basename "$deb")" >>"$log" 2>&1 ||
  fail "apt-get install: $(tail -20 "$log")"
in_root dpkg-query -W -f '${Package}\n' | sort >"$work/after.txt"
comm -13 "$work/before.txt" "$work/after.txt" >"$work/pulled-in.txt"
step "$(wc -l <"$work/pulled-in.txt") packages pulled in (pulled-in.txt)"
in_root dpkg -L mevrik >"$work/files.txt"

# Every program of the package from PATH, without a display: usage, statuses, libraries.
programs=$(grep '^/usr/bin/' "$work/files.txt")
for program in $programs; do
  missing=$(in_root ldd "$program" 2>&1 | grep 'not found' || true)
  [ -z "$missing" ] || fail "$program misses libraries: $missing"
done
expect() { # expect STATUS PATTERN COMMAND...: the status and a part of the combined output
  local status=$1 pattern=$2 code=0 out
  shift 2
  out=$(in_root "$@" 2>&1) || code=$?
  echo "\$ $* -> $code: $out" >>"$log"
  [ "$code" -eq "$status" ] || fail "$*: status $code, not $status: $out"
  [[ $out == *$pattern* ]] || fail "$*: no \"$pattern\" in: $out"
}
declare -A checked=()
expect 2 "vantic-click x y" vantic-click
expect 1 "" vantic-click 10 10
checked[/usr/bin/vantic-click]=1
if grep -qx /usr/bin/vantic-click-wayland "$work/files.txt"; then
  # The same command for wlroots compositors: no Wayland display here either.
  expect 2 "" vantic-click-wayland
  expect 1 "" vantic-click-wayland 10 10
  checked[/usr/bin/vantic-click-wayland]=1
fi
expect 2 "vantic-type" vantic-type
expect 1 "" vantic-type text a
checked[/usr/bin/vantic-type]=1
expect 2 "vantic-shot" vantic-shot
expect 1 "" vantic-shot /tmp/x.png
checked[/usr/bin/vantic-shot]=1
expect 3 '{"error":' vantic-ax
checked[/usr/bin/vantic-ax]=1
expect 2 "usage: vantic-act" vantic-act
expect 3 '{"error":' vantic-act 0.1 press
checked[/usr/bin/vantic-act]=1
expect 2 "usage: vantic-win" vantic-win
expect 1 '{"error":"cannot open the X display' vantic-win list
checked[/usr/bin/vantic-win]=1
expect 1 "no display to open the window on" Mevrik
checked[/usr/bin/Mevrik]=1
requests='{"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}}
{"jsonrpc":"2.0","id":2,"method":"tools/list"}'
answers=$(printf '%s\n' "$requests" | in_root mevrik-mcp 2>>"$log")
[[ $answers == *'"protocolVersion":"2025-06-18"'* && $answers == *'"name":"snapshot"'* &&
  $answers == *'"name":"click"'* ]] || fail "mevrik-mcp: $answers"
checked[/usr/bin/mevrik-mcp]=1
for program in $programs; do
  [ -n "${checked[$program]:-}" ] || fail "$program is installed but not checked here"
done
# The product's scripts: their help, the installer and uninstaller in a scratch home through the
# product's uv, and the connection check under zsh -f (no service, no plug-in: status 1).
product=/usr/share/mevrik/product
expect 0 "install-manifest" python3 $product/scripts/install_codex.py --help
expect 0 "install-manifest" python3 $product/scripts/uninstall.py --help
mkdir -p "$root/tmp/home"
expect 0 "" env HOME=/tmp/home $product/runtime/uv run --no-project --python 3.13 python \
  $product/scripts/install_codex.py
grep -q '"command": "/usr/bin/mevrik-mcp"' "$root/tmp/home/.local/share/mevrik/codex-plugin/.mcp.json" ||
  fail "the laid-out plug-in does not name /usr/bin/mevrik-mcp"
expect 1 "OK: mevrik-mcp" env HOME=/tmp/home MEVRIK_SERVICE_URL=http://127.0.0.1:9 \
  /bin/zsh -f $product/scripts/doctor.sh
expect 0 "" env HOME=/tmp/home $product/runtime/uv run --no-project --python 3.13 python \
  $product/scripts/uninstall.py
left=$(find "$root/tmp/home" ! -type d)
[ -z "$left" ] || fail "left in the home: $left"

# The setup window on an X server of this machine, its socket bound into the root. The server
# does not reset when its last client goes (-noreset): the checks below connect and leave many
# times, and a server in the middle of a reset is one a loaded machine may show to the next client.
[ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
bind /tmp/.X11-unix /tmp/.X11-unix
start_x() {
  local number
  exec 8< <(exec Xvfb -displayfd 1 -noreset -screen 0 1024x768x24 -nolisten tcp 2>>"$log")
  xvfb=$!
  read -r -t 60 number <&8 || fail "Xvfb did not start"
  display=:$number
  for _ in $(seq 300); do
    [ -S "$root/tmp/.X11-unix/X$number" ] && DISPLAY=$display xdpyinfo >/dev/null 2>&1 && return
    sleep 0.2
  done
  fail "Xvfb on $display does not answer"
}
step "Mevrik on Xvfb"
start_x
install -d -m 700 "$root/tmp/runtime"
# A font setup with no Japanese glyphs at all: what "empty boxes" look like.
cat >"$root/tmp/tofu.conf" <<'XML'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig><dir>/usr/share/fonts/truetype/dejavu</dir><cachedir>/tmp/tofu-cache</cachedir></fontconfig>
XML
start_mevrik() { # start_mevrik LOG [ENV...]: Mevrik in the root on $display; sets mevrik, window
  local out=$1
  shift
  window=""
  in_root env DISPLAY="$display" XDG_RUNTIME_DIR=/tmp/runtime HOME=/tmp/home "$@" Mevrik >"$out" 2>&1 &
  mevrik=$! # the subshell; Mevrik is its child (chroot and env exec it)
  for _ in $(seq 240); do
    # The setup window: shown, named Mevrik (the tray's pop-up panel is there too, unmapped).
    window=$(DISPLAY=$display xdotool search --onlyvisible --name '^Mevrik' 2>/dev/null | head -1)
    [ -z "$window" ] || return 0
    kill -0 "$mevrik" 2>/dev/null || break
    sleep 0.5
  done
  stop_mevrik
  return 1
}
stop_mevrik() {
  pkill -P "$mevrik" 2>/dev/null || true
  kill "$mevrik" 2>/dev/null || true
  wait "$mevrik" 2>/dev/null || true
}
shoot() { # shoot FILE [ENV...]: starts Mevrik, waits for its window, takes it, ends Mevrik
  local file=$1 attempt geometry
  shift
  rm -f "$file"
  # A start that could not reach the server is retried (on a new server if this one is gone);
  # one that reached it and showed no window is a failure.
  for attempt in 1 2 3; do
    start_mevrik "$file.log" "$@" && break
    cat "$file.log" >>"$log"
    grep -q "cannot open the window on the display" "$file.log" ||
      fail "no Mevrik window on $display: $(tail -5 "$file.log")"
    kill -0 "$xvfb" 2>/dev/null || start_x
    sleep "$attempt"
  done
  [ -n "$window" ] || fail "Mevrik could not reach $display in 3 starts: $(tail -5 "$file.log")"
  # Drawn: mostly light (the panel), and the same on two captures a second apart.
  for _ in $(seq 60); do
    sleep 1
    # The screen cut to the window: the first start's question is a window of its own on top
    # (a capture of the setup window alone shows it as a black hole).
    geometry=$(DISPLAY=$display xwininfo -id "$window" |
      awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
           /Width:/ { w = $NF } /Height:/ { h = $NF } END { print w "x" h "+" x "+" y }')
    DISPLAY=$display import -window root -crop "$geometry" +repage "$file.next.png" 2>>"$log" ||
      continue
    if [ -f "$file" ] && [ "$(compare -metric AE "$file" "$file.next.png" null: 2>&1)" = 0 ] &&
      awk -v m="$(identify -format '%[fx:mean]' "$file")" 'BEGIN { exit !(m > 0.5) }'; then
      break
    fi
    mv "$file.next.png" "$file"
  done
  rm -f "$file.next.png"
  awk -v m="$(identify -format '%[fx:mean]' "$file" 2>/dev/null)" 'BEGIN { exit !(m > 0.5) }' ||
    fail "the Mevrik window was not drawn within a minute ($file)"
  stop_mevrik
}
# The empty-box render first: the first start asks its question over the panel, the second
# shows the whole panel with the root's own fonts.
shoot "$work/tofu.png" FONTCONFIG_FILE=/tmp/tofu.conf
shoot "$work/mevrik.png"
family=$(in_root fc-match -f '%{family}' ':lang=ja')
in_root fc-list ':lang=ja' family | grep -q . || fail "no font in the root covers Japanese"
differing=$(compare -metric AE "$work/mevrik.png" "$work/tofu.png" null: 2>&1 || true)
step "fontconfig's font for :lang=ja: $family; pixels differing from the empty-box render: $differing"
awk -v d="$differing" 'BEGIN { exit !(d + 0 > 500) }' ||
  fail "the window looks the same as with empty boxes"
blank=$(identify -format '%[fx:standard_deviation]' "$work/mevrik.png")
awk -v s="$blank" 'BEGIN { exit !(s > 0.01) }' || fail "the screenshot is blank"

# Purged, nothing of it is left.
step "apt-get purge mevrik"
in_root apt-get purge -y -q mevrik >>"$log" 2>&1 || fail "purge: $(tail -5 "$log")"
in_root dpkg -s mevrik >/dev/null 2>&1 && fail "mevrik is still known to dpkg"
while read -r path; do
  [ -d "$root$path" ] && [ "$path" != /usr/share/mevrik ] && continue # shared folders stay
  [ ! -e "$root$path" ] || fail "left after purge: $path"
done <"$work/files.txt"
step "passed: screenshots $work/mevrik.png and $work/tofu.png"
