#!/usr/bin/env bash
# vantic-ax against the per-element pyatspi walk on each application of the snapshot matrix, side
# by side in one run on a private headless desktop, both with the default 0.5 s budget.
#   bench/ax_matrix.sh VANTIC_AX [ROUNDS [APP...]]
# Prints one row per application and tool: records, visited elements, whole-process time (median
# of ROUNDS, the tools alternating), visited elements per second of process time, and which tool
# reached more of the window within the budget. Applications that are not installed are listed
# as skipped.
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

printf '%-20s %-8s %8s %8s %9s %10s %s\n' application tool records visited "median ms" "visited/s" ""
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
  for _ in $(seq "$rounds"); do
    t=${EPOCHREALTIME/[.,]/}
    "$vantic_ax" >"$work/ax.json" || true
    echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/ax.ms"
    t=${EPOCHREALTIME/[.,]/}
    /usr/bin/python3 "$here/atspi_pyatspi_walk.py" "$pid" 0.5 >"$work/py.json" 2>/dev/null ||
      echo '{"records": 0, "visited": 0}' >"$work/py.json"
    echo $(((${EPOCHREALTIME/[.,]/} - t) / 1000)) >>"$work/py.ms"
  done
  python3 - "$work" "$app" <<'PY'
import json, statistics, sys
work, app = sys.argv[1], sys.argv[2]
ax = json.load(open(work + "/ax.json"))
py = json.load(open(work + "/py.json"))
ax_ms = statistics.median(int(l) for l in open(work + "/ax.ms"))
py_ms = statistics.median(int(l) for l in open(work + "/py.ms"))
rows = [("vantic-ax", len(ax.get("elements", [])), ax.get("visited", 0), ax_ms),
        ("pyatspi", py["records"], py["visited"], py_ms)]
ax_rate, py_rate = (v / max(ms, 1) * 1000 for _, _, v, ms in rows)
more = "vantic-ax" if rows[0][2] >= rows[1][2] else "pyatspi"
for i, (tool, records, visited, ms) in enumerate(rows):
    note = "reached more: %s, %.1fx the elements/s" % (more, ax_rate / max(py_rate, 1e-9)) if i else ""
    print("%-20s %-8s %8d %8d %9d %10d %s" % (app if i == 0 else "", tool, records, visited, ms,
                                              visited / max(ms, 1) * 1000, note))
PY
  kill "$pid" 2>/dev/null || true
  sleep 0.5
done
