# Shared by the vantic-ax end-to-end checks: a private desktop, snapshots and JSON checks.
# Source it; it starts the desktop and stops it (and everything launched on it) on exit.
set -euo pipefail
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
desktop="$e2e_dir/desktop.sh"
: "${VANTIC_AX:?set VANTIC_AX to the vantic-ax binary}"
work=$(mktemp -d)
trap '"$desktop" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
# A loaded machine can miss the script's start-up waits: one more try before giving up.
if ! "$desktop" start "$work"; then
  "$desktop" stop "$work" >/dev/null 2>&1 || true
  "$desktop" start "$work"
fi
. "$work/env.sh"

# The checks of a snapshot's content run with a wide budget: the sanitised build on a busy
# machine can take longer than the default half second, which would cut the walk short.
wide=(--budget 10)

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

launch() { "$desktop" launch "$work" "$@"; }

# Runs vantic-ax with the given options; the output goes to $work/snap.json, the status to $status.
# snap_env does the same with env's arguments first (variables to set or, after -u, to unset).
snap() { snap_env -- "$@"; }
snap_env() {
  local settings=()
  while [ "$1" != -- ]; do settings+=("$1") && shift; done
  shift
  status=0
  env "${settings[@]}" "$VANTIC_AX" "$@" >"$work/snap.json" || status=$?
}

# Checks the last snapshot with Python: $1 is a block of statements that sees the document as `d`
# and the helpers of ax_check.py.
check() {
  python3 - "$work/snap.json" "$1" <<'PY'
import sys, os
sys.path.insert(0, os.environ["E2E_DIR"])
from ax_check import *
d = load(sys.argv[1])
exec(sys.argv[2])
PY
}
export E2E_DIR="$e2e_dir"

# A Python expression evaluated on the last snapshot, printed.
query() {
  python3 - "$work/snap.json" "$1" <<'PY'
import sys, os
sys.path.insert(0, os.environ["E2E_DIR"])
from ax_check import *
d = load(sys.argv[1])
print(eval(sys.argv[2]))
PY
}

# One left click at a screen point, with vantic-click when it was built.
click() {
  if [ -n "${VANTIC_CLICK:-}" ]; then
    "$VANTIC_CLICK" "$1" "$2" >/dev/null
  else
    xdotool mousemove "$1" "$2" click 1
  fi
}

# One left click at the centre of the record that the Python expression $1 picks from the last
# snapshot.
press() { click "$(query "($1)[\"x\"]")" "$(query "($1)[\"y\"]")"; }

# Runs the command until it succeeds, every 0.05 s for at most $1 seconds; fails if it never does.
retry() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.05
  done
}

# Retries a snapshot until the Python condition holds on it (applications build their trees
# lazily), at most $1 seconds.
snap_until() {
  local seconds=$1 condition=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  while :; do
    snap "$@"
    if [ $status -eq 0 ] && [ "$(query "$condition")" = "True" ]; then return 0; fi
    [ $SECONDS -lt $deadline ] || return 1
    sleep 0.3
  done
}
