#!/usr/bin/env bash
# A private, headless test desktop for the end-to-end checks and the demo.
#
#   desktop.sh start DIR [--stock-wm]     start Xvfb, a session bus, openbox and the AT-SPI bus
#   desktop.sh launch DIR [--name NAME] [--no-a11y] -- CMD ARGS...
#                                          start an application, wait for its window (and for its
#                                          AT-SPI registration), activate it, print its pid
#   desktop.sh activate DIR PID           give the top-level window of PID the focus
#   desktop.sh window DIR PID             print the id of the top-level window of PID
#   desktop.sh stop DIR                   stop what this script started for DIR, newest first
#
# MEVRIK_SCREEN sets the X screen's size and depth (default 1280x800x24).
# MEVRIK_MONITORS lays out several monitors instead, as "WxH+X+Y" entries separated by spaces
# (for example "1280x800+0+0 1024x768+1280+0"). Xvfb knows only one monitor, so
# this desktop runs Xorg with its dummy video driver (packages xserver-xorg-core and
# xserver-xorg-video-dummy); the X screen is the monitors' bounding box, and XRandR lists each
# monitor, which is what the window manager and the toolkits place windows by.
# DIR receives env.sh (source it to talk to the desktop), pids (one "pid name" per line, in start
# order) and the logs. Only processes recorded in DIR/pids are ever stopped.
set -euo pipefail

die() {
  echo "desktop.sh: $*" >&2
  exit 1
}

# Polls "$@" every 50 ms until it succeeds or $timeout seconds have passed.
wait_for() {
  local timeout=$1
  shift
  local deadline=$((SECONDS + timeout))
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

record() { echo "$1 $2" >>"$dir/pids"; }

# Runs a command in the background with the desktop's environment; sets $started.
spawn() {
  local name=$1
  shift
  (
    . "$dir/env.sh"
    exec "$@"
  ) >>"$dir/$name.log" 2>&1 </dev/null &
  started=$!
  record "$started" "$name"
}

write_bus_config() {
  # The stock session configuration names service directories: its bus would auto-start
  # portals and a FUSE document mount. The test bus starts nothing by itself.
  cat >"$dir/session.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$dir/runtime/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
}

write_openbox_config() {
  # Stock openbox holds synchronous button grabs on client windows for its click-to-focus
  # bindings; they reorder synthetic events. The default test desktop has no bindings at all
  # (windows are activated through _NET_ACTIVE_WINDOW); --stock-wm keeps the stock rc.
  cat >"$dir/openbox-rc.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
  <keyboard></keyboard>
  <mouse></mouse>
</openbox_config>
EOF
}

a11y_address() { xprop -root AT_SPI_BUS 2>/dev/null | sed -n 's/^AT_SPI_BUS(STRING) = "\(.*\)"$/\1/p'; }

has_a11y_bus() { [ -n "$(a11y_address)" ]; }

bus_pid() {
  # The process behind a name on the given bus.
  gdbus call --address "$1" --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.GetConnectionUnixProcessID "$2" 2>/dev/null |
    sed -n 's/^(uint32 \([0-9]*\),)$/\1/p'
}

start() {
  [ ! -s "$dir/pids" ] || die "$dir already holds a running desktop (stop it first)"
  # A display that another desktop is taking down at the same moment can be handed out and then
  # vanish under us (seen while several desktops started and stopped in parallel). Such a start
  # is stopped and made again from scratch.
  local attempt
  for attempt in 1 2 3; do
    : >"$dir/pids"
    if (start_once "$@"); then return 0; fi
    stop
    echo "desktop.sh: start attempt $attempt failed; the logs end with:" >&2
    tail -n 3 "$dir"/*.log >&2 2>/dev/null || true
  done
  die "could not start a desktop in $dir"
}

# The monitors of MEVRIK_MONITORS, one "W H X Y" line each.
monitor_lines() {
  local m
  for m in $MEVRIK_MONITORS; do
    [[ $m =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || die "MEVRIK_MONITORS: bad monitor '$m' (want WxH+X+Y)"
    echo "${BASH_REMATCH[1]} ${BASH_REMATCH[2]} ${BASH_REMATCH[3]} ${BASH_REMATCH[4]}"
  done
}

# The bounding box of the monitors: "WIDTH HEIGHT".
monitors_extent() {
  monitor_lines | awk '{ if ($1 + $3 > w) w = $1 + $3; if ($2 + $4 > h) h = $2 + $4 } END { print w, h }'
}

# Starts Xorg on the dummy driver with a screen as large as the monitors' bounding box, shown
# whole by the driver's one output: Xorg keeps the pointer inside the outputs' areas, so a smaller
# output would stop clicks short of the second monitor. The server reads no system
# configuration, opens no input device (XTest still gives the virtual core pointer and keyboard)
# and leaves the consoles alone.
start_xorg() {
  command -v Xorg >/dev/null ||
    die "MEVRIK_MONITORS needs Xorg (apt-get install xserver-xorg-core xserver-xorg-video-dummy)"
  local width height
  read -r width height < <(monitors_extent)
  # A mode of exactly that size, its pixel clock (kHz) kept within the dummy driver's 300 MHz.
  local htotal=$((width + 80)) vtotal=$((height + 20)) refresh=60
  while [ $((htotal * vtotal * refresh / 1000)) -gt 250000 ] && [ $refresh -gt 10 ]; do
    refresh=$((refresh - 10))
  done
  local clock=$((htotal * vtotal * refresh / 1000))
  mkdir -p "$dir/xorg.conf.d"
  cat >"$dir/xorg.conf" <<EOF
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "AutoEnableDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam $((width * height * 4 / 1024 + 1024))
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0-1000.0
  VertRefresh 5.0-200.0
  Modeline "desktop" $((clock / 1000)).$(printf %03d $((clock % 1000))) $width $((width + 8)) $((width + 40)) $htotal $height $((height + 3)) $((height + 9)) $vtotal
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Virtual $width $height
    Modes "desktop"
  EndSubSection
EndSection
EOF
  Xorg -displayfd 3 -config "$dir/xorg.conf" -configdir "$dir/xorg.conf.d" -logfile "$dir/xorg.log" \
    -nolisten tcp -noreset -novtswitch -keeptty 3>"$1" >"$dir/xorg.out" 2>&1 </dev/null &
  record $! Xorg
  wait_for 15 grep -q '[0-9]' "$1" || die "Xorg did not start (see $dir/xorg.log)"
}

# Declares each monitor through XRandR; the first takes the dummy output.
split_monitors() {
  local n=0 w h x y output
  output=$(xrandr | awk '/ connected/ { print $1; exit }')
  while read -r w h x y; do
    # Millimetres for 96 dots per inch, so that toolkits compute an ordinary scale.
    xrandr --setmonitor "monitor$n" "$w/$((w * 254 / 960))x$h/$((h * 254 / 960))+$x+$y" \
      "$([ $n -eq 0 ] && echo "$output" || echo none)" >/dev/null
    n=$((n + 1))
  done < <(monitor_lines)
  [ "$(xrandr --listmonitors | head -n 1)" = "Monitors: $n" ] ||
    die "XRandR lists $(xrandr --listmonitors | head -n 1), not $n monitors"
}

start_once() {
  local stock_wm=0
  [ "${1:-}" = "--stock-wm" ] && stock_wm=1
  mkdir -p "$dir/home" "$dir/config" "$dir/data" "$dir/cache" "$dir/runtime"
  chmod 0700 "$dir/runtime"

  # The X server picks a free display itself and tells which through -displayfd.
  local displayfile="$dir/display"
  : >"$displayfile"
  if [ -n "${MEVRIK_MONITORS:-}" ]; then
    start_xorg "$displayfile"
  else
    Xvfb -displayfd 3 -screen 0 "${MEVRIK_SCREEN:-1280x800x24}" -nolisten tcp 3>"$displayfile" >"$dir/xvfb.log" 2>&1 &
    record $! Xvfb
    wait_for 10 grep -q '[0-9]' "$displayfile" || die "Xvfb did not start (see $dir/xvfb.log)"
  fi
  local display=":$(tr -dc 0-9 <"$displayfile")"

  write_bus_config
  cat >"$dir/env.sh" <<EOF
export DISPLAY=$display
export XDG_RUNTIME_DIR=$dir/runtime
export DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/runtime/bus
export HOME=$dir/home
export XDG_CONFIG_HOME=$dir/config
export XDG_DATA_HOME=$dir/data
export XDG_CACHE_HOME=$dir/cache
export GSETTINGS_BACKEND=memory
export GDK_BACKEND=x11
export QT_QPA_PLATFORM=xcb
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export NO_AT_BRIDGE=0
unset WAYLAND_DISPLAY SESSION_MANAGER
EOF
  . "$dir/env.sh"
  wait_for 10 xdpyinfo || die "display $display does not answer"
  [ -z "${MEVRIK_MONITORS:-}" ] || split_monitors

  spawn dbus dbus-daemon --nofork --config-file="$dir/session.conf"
  wait_for 10 test -S "$dir/runtime/bus" || die "session bus did not start"

  if [ $stock_wm -eq 1 ]; then
    spawn openbox openbox --sm-disable
  else
    write_openbox_config
    spawn openbox openbox --sm-disable --config-file "$dir/openbox-rc.xml"
  fi
  wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
    die "openbox did not start (see $dir/openbox.log)"

  spawn a11y-bus /usr/libexec/at-spi-bus-launcher --launch-immediately --a11y=1
  wait_for 10 has_a11y_bus || die "the accessibility bus did not start"
  local a11y
  a11y=$(a11y_address)
  # Applications find the accessibility bus through org.a11y.Bus on the session bus, as on a
  # real desktop. Exporting AT_SPI_BUS_ADDRESS instead would keep Qt 6.4 from ever exposing its
  # tree (it connects to that bus but never registers), so the address is kept under our own name.
  echo "MEVRIK_A11Y_BUS='$a11y'" >>"$dir/env.sh"

  # The accessibility bus daemon and the registry are started by the launcher and by bus
  # activation; record them by the pids the buses report so that stop can end them too.
  local pid
  pid=$(bus_pid "$a11y" org.freedesktop.DBus || true)
  [ -z "$pid" ] || record "$pid" a11y-dbus
  wait_for 10 gdbus call --address "$a11y" --dest org.a11y.atspi.Registry \
    --object-path /org/a11y/atspi/accessible/root \
    --method org.a11y.atspi.Accessible.GetChildren || die "the AT-SPI registry did not start"
  pid=$(bus_pid "$a11y" org.a11y.atspi.Registry || true)
  [ -z "$pid" ] || record "$pid" registryd
}

# Succeeds when an application with process id $1 is registered with the AT-SPI registry.
registered() {
  local want=$1 name
  . "$dir/env.sh"
  for name in $(gdbus call --address "$MEVRIK_A11Y_BUS" --dest org.a11y.atspi.Registry \
    --object-path /org/a11y/atspi/accessible/root \
    --method org.a11y.atspi.Accessible.GetChildren 2>/dev/null | grep -o "':[0-9.]*'" | tr -d "'"); do
    [ "$(bus_pid "$MEVRIK_A11Y_BUS" "$name")" = "$want" ] && return 0
  done
  return 1
}

window_of() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1; }
window_or_gone() { ! kill -0 "$1" 2>/dev/null || [ -n "$(window_of "$1")" ]; }

activate() {
  local pid=$1 win
  . "$dir/env.sh"
  win=$(window_of "$pid")
  [ -n "$win" ] || die "no visible window of pid $pid"
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowactivate "$win"
}

launch() {
  local name="" a11y=1
  while [ $# -gt 0 ]; do
    case $1 in
    --name) name=$2; shift 2 ;;
    --no-a11y) a11y=0; shift ;;
    --) shift; break ;;
    *) die "launch: unknown option $1" ;;
    esac
  done
  [ $# -gt 0 ] || die "launch: no command"
  [ -f "$dir/env.sh" ] || die "no desktop in $dir"
  [ -n "$name" ] || name=$(basename "$1")
  spawn "$name" "$@"
  local pid=$started
  . "$dir/env.sh"
  wait_for 15 window_or_gone "$pid" || die "$name mapped no window within 15 s (see $dir/$name.log)"
  kill -0 "$pid" 2>/dev/null || die "$name exited at start (see $dir/$name.log)"
  if [ $a11y -eq 1 ]; then
    wait_for 15 registered "$pid" || die "$name did not register with AT-SPI within 15 s"
  fi
  activate "$pid"
  echo "$pid"
}

stop() {
  [ -f "$dir/pids" ] || return 0
  local pid name
  # Newest first, so that applications go before the buses and the display they use.
  while read -r pid name; do
    kill -TERM "$pid" 2>/dev/null || true
  done < <(tac "$dir/pids")
  local deadline=$((SECONDS + 5))
  while read -r pid name; do
    while kill -0 "$pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null || true
  done < <(tac "$dir/pids")
  : >"$dir/pids"
}

[ $# -ge 2 ] || die "usage: desktop.sh start|launch|activate|window|stop DIR ..."
command=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)
shift 2
case $command in
start) start "$@" ;;
launch) launch "$@" ;;
activate) activate "$@" ;;
window)
  . "$dir/env.sh"
  window_of "$1"
  ;;
stop) stop ;;
*) die "unknown command $command" ;;
esac
