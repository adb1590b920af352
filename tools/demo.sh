#!/usr/bin/env bash
# The main job in one command: an agent's cycle on a real application.
#
# On a machine with a desktop (DISPLAY set and an accessibility bus), it builds the tools and
# prints one snapshot of the frontmost application (options go to vantic-ax). Elsewhere it sets
# the machine up, starts a private headless desktop with gtk3-widget-factory, prints a snapshot,
# clicks an unticked check box found in it with vantic-click, and prints the second snapshot, in
# which that box is ticked. The desktop and everything on it stop at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MEVRIK_DEMO_BUILD_DIR:-$root/build/release}

. "$root/tools/phase.sh"
"$root/tools/setup-debian.sh"
build_tools() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMEVRIK_BUILD_SETUP=OFF
  cmake --build "$build" -j 2 --target vantic-ax vantic-click
}
phase "$root/build/logs/demo-build.log" "building the tools (Release) in $build…" -- build_tools
ax="$build/ax/vantic-ax"
click="$build/click/vantic-click"

has_accessibility_bus() {
  gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
    --method org.a11y.Bus.GetAddress >/dev/null 2>&1
}

if [ -n "${DISPLAY:-}" ] && has_accessibility_bus; then
  status=0
  "$ax" "$@" || status=$?
  exit "$status"
fi

work=$(mktemp -d)
trap '"$root/e2e/desktop.sh" stop "$work" >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
echo "starting the test desktop with gtk3-widget-factory…" >&2
"$root/e2e/desktop.sh" start "$work"
. "$work/env.sh"
"$root/e2e/desktop.sh" launch "$work" -- gtk3-widget-factory >/dev/null

# A half-second budget is what an agent uses; a fresh machine's first run is given more.
options=(--budget 2 "$@")
echo
echo "\$ vantic-ax ${options[*]}"
"$ax" "${options[@]}" | tee "$work/before.json"

target=$(python3 - "$work/before.json" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
boxes = [e for e in d["elements"] if e["role"] == "checkbox" and e["value"] == "0" and not e["disabled"]]
if boxes:
    b = boxes[0]
    print(b["i"], b["x"], b["y"], b["label"])
PY
)
[ -n "$target" ] || { echo "no unticked check box in the snapshot" >&2; exit 1; }
read -r index x y label <<<"$target"
echo
echo "# record $index is the check box \"$label\", unticked, centred at ($x, $y)"
echo "\$ vantic-click $x $y"
"$click" "$x" "$y"
sleep 0.3
echo
echo "\$ vantic-ax ${options[*]}"
"$ax" "${options[@]}" | tee "$work/after.json"
python3 - "$work/after.json" "$x" "$y" <<'PY'
import json, sys
d = json.load(open(sys.argv[1]))
x, y = int(sys.argv[2]), int(sys.argv[3])
box = [e for e in d["elements"] if e["role"] == "checkbox" and (e["x"], e["y"]) == (x, y)]
print()
if box and box[0]["value"] == "1":
    print("# the check box at (%d, %d) is now ticked (value \"1\"), record %d, and has the focus: %s"
          % (x, y, box[0]["i"], d.get("focused") == box[0]["i"]))
else:
    print("# the check box did not change: %r" % box)
    sys.exit(1)
PY
