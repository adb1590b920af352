#!/usr/bin/env bash
# vantic-win next to wmctrl and xdotool on a fresh test desktop, in one run, side by side:
#   - list with 50 windows open: vantic-win list, wmctrl -l -p -G
#   - focus until the window manager reports the window active: vantic-win focus ID,
#     xdotool windowactivate --sync ID (before each run another window is made active)
# Prints hyperfine's figures (wall time, and user + system CPU time of the process) and the
# ratios. Build without the sanitizers first, e.g.
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release && ninja -C build/release vantic-win
#   bench/win_bench.sh build/release [RUNS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: win_bench.sh BUILD_DIR [RUNS]}
runs=${2:-40}
win=$build/win/vantic-win
dir=$(mktemp -d)
cleanup() {
  exec 3>&- 2>/dev/null || true
  "$root/e2e/desktop.sh" stop "$dir"
  rm -rf "$dir"
}
trap cleanup EXIT
"$root/e2e/desktop.sh" start "$dir" >/dev/null
. "$dir/env.sh"

# 50 windows held open by one process until its input closes.
# python3-xlib is installed for the system interpreter.
exec 3> >(/usr/bin/python3 "$root/bench/win_windows.py" 50 >"$dir/windows.out")
for _ in $(seq 300); do grep -q ready "$dir/windows.out" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$dir/windows.out" || { echo "the 50 windows did not open" >&2; exit 1; }
ids=$("$win" list | python3 -c 'import json,sys; print(" ".join(str(w["id"]) for w in json.load(sys.stdin)["windows"][:2]))')
read -r first second <<<"$ids"

bench() {  # NAME COMMAND PREPARE...: "NAME wall_ms cpu_ms"
  local name=$1 command=$2 prepare=${3:-}
  local args=(-N --warmup 3 --runs "$runs" --export-json "$dir/$name.json")
  [ -z "$prepare" ] || args+=(--prepare "$prepare")
  hyperfine "${args[@]}" "$command" >/dev/null
  python3 - "$dir/$name.json" "$name" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
print("%s %.3f %.3f" % (sys.argv[2], r["mean"] * 1000, (r["user"] + r["system"]) * 1000))
PY
}

{
  bench list_vantic "$win list"
  bench list_wmctrl "wmctrl -l -p -G"
  bench focus_vantic "$win focus $first" "xdotool windowactivate --sync $second"
  bench focus_xdotool "xdotool windowactivate --sync $first" "xdotool windowactivate --sync $second"
} >"$dir/figures"

python3 - "$dir/figures" "$runs" <<'PY'
import sys
f = {l.split()[0]: (float(l.split()[1]), float(l.split()[2])) for l in open(sys.argv[1])}
print("vantic-win against wmctrl and xdotool, 50 windows, %s runs each (mean)" % sys.argv[2])
print("%-40s %10s %10s" % ("command", "wall ms", "cpu ms"))
rows = [("vantic-win list", "list_vantic"), ("wmctrl -l -p -G", "list_wmctrl"),
        ("vantic-win focus ID", "focus_vantic"), ("xdotool windowactivate --sync ID", "focus_xdotool")]
for label, key in rows:
    print("%-40s %10.2f %10.2f" % (label, f[key][0], f[key][1]))
for label, a, b in [("list: vantic-win / wmctrl", "list_vantic", "list_wmctrl"),
                    ("focus: vantic-win / xdotool --sync", "focus_vantic", "focus_xdotool")]:
    print("%-40s %10.2f %10.2f" % (label, f[a][0] / f[b][0], f[a][1] / f[b][1]))
PY
