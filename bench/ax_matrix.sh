#!/usr/bin/env bash
# vantic-ax against the per-element pyatspi walk on each application of the snapshot matrix, side
# by side in one run on a private headless desktop, both with the default 0.5 s budget.
#   bench/ax_matrix.sh VANTIC_AX [ROUNDS [APP...]]
# Prints one row per application and tool: records and visited elements (medians of ROUNDS
# runs), whole-process time (median of ROUNDS, the tools alternating), visited elements per second
# of process time against the pyatspi walk's, and a note when vantic-ax reached less of the window
# within the budget. Applications that are not installed are listed as skipped. With
# AX_MATRIX_BASELINE set to another vantic-ax binary (an older build), it runs in the same rounds
# and gets a row of its own, so that a change is measured side by side.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
vantic_ax=${1:?usage: ax_matrix.sh VANTIC_AX [ROUNDS [APP...]]}
rounds=${2:-5}
shift $(($# > 1 ? 2 : 1))
work=$(mktemp -d)
desktop="$here/../e2e/desktop.sh"
trap '"$desktop" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
"$desktop" start "$work" >/dev/null
. "$work/env.sh"
export E2E_DIR="$here/../e2e"
. "$here/../e2e/ax_matrix_apps.sh"
matrix_pages
apps=("$@")
[ ${#apps[@]} -gt 0 ] || read -r -a apps <<<"$(echo $matrix_names)"

printf '%-20s %-9s %8s %8s %9s %10s %s\n' application tool records visited "median ms" "visited/s" ""
for app in "${apps[@]}"; do
  if ! matrix_installed "$app"; then
    printf '%-20s skipped: not installed\n' "$app"
    continue
  fi
  if ! pid=$(matrix_launch "$app" 2>"$work/launch.log"); then
    printf '%-20s skipped: %s\n' "$app" "$(tail -n 1 "$work/launch.log")"
    continue
  fi
  VANTIC_AX=$vantic_ax matrix_wait_ready "$app" 60 || echo "$app: not ready after 60 s" >&2
  sleep 1
  "$desktop" activate "$work" "$pid" >/dev/null 2>&1 || true
  : >"$work/ax.ms"
  : >"$work/py.ms"
  : >"$work/base.ms"
  : >"$work/ax.json"
  : >"$work/py.json"
  : >"$work/base.json"
  for _ in $(seq "$rounds"); do
    if [ -n "${AX_MATRIX_BASELINE:-}" ]; then
      t=${EPOCHREALTIME/[.,]/}
      "$AX_MATRIX_BASELINE" >>"$work/base.json" || echo '{}' >>"$work/base.json"
      echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/base.ms"
    fi
    t=${EPOCHREALTIME/[.,]/}
    "$vantic_ax" >>"$work/ax.json" || echo '{}' >>"$work/ax.json"
    echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/ax.ms"
    t=${EPOCHREALTIME/[.,]/}
    timeout 60 /usr/bin/python3 "$here/atspi_pyatspi_walk.py" "$pid" 0.5 >>"$work/py.json" 2>/dev/null ||
      echo '{"records": 0, "visited": 0}' >>"$work/py.json"
    echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/py.ms"
  done
  python3 - "$work" "$app" <<'PY'
import json, statistics, sys
work, app = sys.argv[1], sys.argv[2]
def row(tool, name):
    runs = [json.loads(l) for l in open(work + "/" + name + ".json") if l.strip()]
    ms = statistics.median(int(l) for l in open(work + "/" + name + ".ms"))
    records = statistics.median(d.get("records", len(d.get("elements", []))) for d in runs)
    return tool, records, statistics.median(d.get("visited", 0) for d in runs), ms

rows = [row("vantic-ax", "ax"), row("pyatspi", "py")]
if open(work + "/base.ms").read():
    rows.insert(1, row("baseline", "base"))
py_rate = rows[-1][2] / max(rows[-1][3], 1) * 1000
for i, (tool, records, visited, ms) in enumerate(rows):
    rate = visited / max(ms, 1) * 1000
    note = "%.1fx the pyatspi elements/s" % (rate / max(py_rate, 1e-9)) if tool != "pyatspi" else ""
    if tool != "pyatspi" and visited < rows[-1][2]:
        note += ", reached less than pyatspi"
    print("%-20s %-9s %8d %8d %9d %10d %s" % (app if i == 0 else "", tool, records, visited, ms,
                                               rate, note))
PY
  kill "$pid" 2>/dev/null || true
  sleep 0.5
done
