#!/usr/bin/env bash
# Whole-process snapshot of gtk3-widget-factory's window: vantic-ax against a pyatspi walk of the
# same window reading the same fields, side by side in one run on a private headless desktop.
#   bench/atspi_snapshot.sh VANTIC_AX [ROUNDS [BASELINE_VANTIC_AX]]
# Prints one row per tool: records, visited, and the process time in ms (median and best of
# ROUNDS, alternating the tools so that all see the same machine load). With a baseline (another
# build of vantic-ax), it runs too, and the script says whether both gave the same records.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
vantic_ax=${1:?usage: atspi_snapshot.sh VANTIC_AX [ROUNDS]}
rounds=${2:-15}
baseline=${3:-}
work=$(mktemp -d)
trap '"$here/../e2e/desktop.sh" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$here/../e2e/desktop.sh" start "$work"
. "$work/env.sh"
pid=$("$here/../e2e/desktop.sh" launch "$work" -- gtk3-widget-factory)
sleep 1

# Times come from bash's own clock ($EPOCHREALTIME, microseconds once the point is dropped): a
# `date` process per reading would add two process start-ups to every figure, the same for both
# tools, and so understate their ratio.
: >"$work/ax.ms"
: >"$work/py.ms"
: >"$work/base.ms"
for _ in $(seq "$rounds"); do
  if [ -n "$baseline" ]; then
    t=${EPOCHREALTIME/[.,]/}
    "$baseline" --budget 10 >"$work/base.json"
    echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/base.ms"
  fi
  t=${EPOCHREALTIME/[.,]/}
  "$vantic_ax" --budget 10 >"$work/ax.json"
  echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/ax.ms"
  t=${EPOCHREALTIME/[.,]/}
  /usr/bin/python3 "$here/atspi_pyatspi_walk.py" "$pid" >"$work/py.json"
  echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/py.ms"
done

python3 - "$work" <<'PY'
import json, os, statistics, sys
work = sys.argv[1]
ax = json.load(open(work + "/ax.json"))
py = json.load(open(work + "/py.json"))
ax_ms = [int(l) for l in open(work + "/ax.ms")]
py_ms = [int(l) for l in open(work + "/py.ms")]
print("%-28s %8s %8s %10s %8s" % ("gtk3-widget-factory window", "records", "visited", "median ms", "best ms"))
print("%-28s %8d %8d %10d %8d" % ("vantic-ax (process)", len(ax["elements"]), ax["visited"],
                                   statistics.median(ax_ms), min(ax_ms)))
print("%-28s %8d %8d %10d %8d" % ("pyatspi walk (process)", py["records"], py["visited"],
                                   statistics.median(py_ms), min(py_ms)))
if os.path.getsize(work + "/base.ms"):
    base = json.load(open(work + "/base.json"))
    base_ms = [int(l) for l in open(work + "/base.ms")]
    print("%-28s %8d %8d %10d %8d" % ("baseline vantic-ax", len(base["elements"]),
                                       base["visited"], statistics.median(base_ms), min(base_ms)))
    same = all(base[k] == ax[k] for k in ("app", "bundle", "window", "elements", "visited",
                                          "focused", "truncated"))
    print("baseline gives the same records: %s; speed-up over it (median): %.1fx" % (
        "yes" if same else "NO", statistics.median(base_ms) / statistics.median(ax_ms)))
print("speed-up (median): %.1fx; vantic-ax walk alone: %d ms" % (
    statistics.median(py_ms) / statistics.median(ax_ms), ax["ms"]))
PY
