#!/usr/bin/env bash
# vantic-act press next to vantic-click on the same check box of gtk3-widget-factory, on a fresh
# test desktop: the time from the tool's start until the check box's state has changed, as a
# pyatspi watcher sees it, alternating the two tools round by round, and the CPU time each run
# took (which load from other processes on the machine disturbs less). Build without sanitizers:
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
#   ninja -C build/release vantic-ax vantic-act vantic-click
#   bench/act_bench.sh build/release [ROUNDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: act_bench.sh BUILD_DIR [ROUNDS]}
rounds=${2:-20}
dir=$(mktemp -d)
trap '"$root/e2e/desktop.sh" stop "$dir" >/dev/null 2>&1; rm -rf "$dir"' EXIT
"$root/e2e/desktop.sh" start "$dir" >/dev/null
. "$dir/env.sh"
pid=$("$root/e2e/desktop.sh" launch "$dir" -- gtk3-widget-factory)
"$build/ax/vantic-ax" --budget 10 --paths >"$dir/snap.json"
/usr/bin/python3 - "$dir/snap.json" "$build" "$pid" "$rounds" <<'PY'
import json, os, resource, statistics, subprocess, sys, time
import pyatspi

snap, build, pid, rounds = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
doc = json.load(open(snap))
box = [e for e in doc["elements"]
       if e["role"] == "checkbox" and e["label"] == "checkbutton" and not e["disabled"]][0]

# The same check box through pyatspi, found by the path's child indexes from the active window.
app = [a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == int(pid)][0]
window = [w for w in app if w.getState().contains(pyatspi.STATE_ACTIVE)][0]
node = window
for index in box["path"].split("."):
    node = node.getChildAtIndex(int(index))
assert node.getRole() == pyatspi.ROLE_CHECK_BOX, node.getRoleName()

def checked():
    return node.getState().contains(pyatspi.STATE_CHECKED)

def cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime

def timed(command):
    before = checked()
    start, used = time.perf_counter(), cpu()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    used = cpu() - used
    while checked() == before:
        if time.perf_counter() - start > 5:
            raise SystemExit("the state did not change: %s" % command)
    return time.perf_counter() - start, used

act = [build + "/act/vantic-act", box["path"], "press", "--pid", pid,
       "--expect-role", "checkbox", "--expect-label", "checkbutton"]
click = [build + "/click/vantic-click", str(box["x"]), str(box["y"])]
times = {"vantic-act press": [], "vantic-click": []}
cpus = {"vantic-act press": [], "vantic-click": []}
for k in range(rounds):
    order = [("vantic-act press", act), ("vantic-click", click)]
    for name, command in order if k % 2 == 0 else reversed(order):
        wall, used = timed(command)
        times[name].append(wall)
        cpus[name].append(used)
        time.sleep(0.05)

print("load average %.1f; %d rounds; ms from start to state changed, and CPU ms of the run"
      % (os.getloadavg()[0], rounds))
print("%-18s %10s %10s %10s %10s" % ("tool", "median", "min", "max", "CPU median"))
for name, values in times.items():
    print("%-18s %10.1f %10.1f %10.1f %10.1f" % (
        name, statistics.median(values) * 1000, min(values) * 1000, max(values) * 1000,
        statistics.median(cpus[name]) * 1000))
a, c = "vantic-act press", "vantic-click"
print("ratio vantic-act / vantic-click: medians %.2f, minimums %.2f, CPU medians %.2f" % (
    statistics.median(times[a]) / statistics.median(times[c]), min(times[a]) / min(times[c]),
    statistics.median(cpus[a]) / statistics.median(cpus[c])))
PY
