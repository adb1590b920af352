#!/usr/bin/python3
"""End-to-end checks of vantic-shot on the headless test desktop with gtk3-widget-factory.

At 1x and with GDK_SCALE=2: the image has the size of the window's visible part, and a check
box's record from vantic-ax, converted with the reported origin and scale, lands on the check
box in the image: toggling it with vantic-click changes pixels there and nowhere outside it.

  shot_e2e.py --shot VANTIC_SHOT --ax VANTIC_AX --click VANTIC_CLICK --desktop DESKTOP_SH
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_session import check, desktop_session, launch, read_png, summary  # noqa: E402
from desktop_session import wait_until  # noqa: E402


def shoot(tool, path, *area):
    out = subprocess.run([tool, path] + [str(a) for a in area], capture_output=True, text=True,
                         timeout=30)
    assert out.returncode == 0, (out.returncode, out.stderr)
    return {k: v for k, v in (f.split("=", 1) for f in out.stdout.split())}


def snapshot(ax):
    return json.loads(subprocess.run([ax, "--budget", "10"], capture_output=True, text=True,
                                     timeout=30).stdout)


def active_window_frame():
    win = subprocess.run(["xdotool", "getactivewindow"], capture_output=True, text=True).stdout
    info = subprocess.run(["xwininfo", "-id", win.strip()], capture_output=True, text=True).stdout
    field = {k.strip(): v.strip() for k, v in (l.split(":", 1) for l in info.splitlines() if ":" in l)}
    return (int(field["Absolute upper-left X"]), int(field["Absolute upper-left Y"]),
            int(field["Width"]), int(field["Height"]))


def checks(label, options, work):
    frame = active_window_frame()
    report = shoot(options.shot, os.path.join(work, "before.png"))
    x, y, scale = int(report["x"]), int(report["y"]), float(report["scale"])
    width, height, before = read_png(os.path.join(work, "before.png"))
    visible = (max(frame[0], 0), max(frame[1], 0),
               min(frame[0] + frame[2], 1280) - max(frame[0], 0),
               min(frame[1] + frame[3], 800) - max(frame[1], 0))
    check((x, y, int(report["width"]), int(report["height"])) == visible
          and (width, height) == (visible[2] * scale, visible[3] * scale)
          and report["image"] == "%dx%d" % (width, height),
          "%s: the image (%s at %d,%d, %dx%d pixels) is the window's visible part %s"
          % (label, report["image"], x, y, width, height, visible))

    def checked_boxes():  # applications build their trees lazily: asked again until there
        return [e for e in snapshot(options.ax).get("elements", [])
                if e["role"] == "checkbox" and not e["disabled"] and e["value"] == "1"
                and e["y"] + e["h"] / 2 < 800]

    boxes = wait_until(checked_boxes, 10, 0.3)
    if not check(boxes, "%s: the snapshot has an enabled, checked check box on the screen" % label):
        return
    box = boxes[0]
    # The record's box in image pixels: (screen point - origin) * scale.
    left, top = (box["x"] - box["w"] / 2 - x) * scale, (box["y"] - box["h"] / 2 - y) * scale
    right, bottom = left + box["w"] * scale, top + box["h"] * scale
    subprocess.run([options.click, str(box["x"]), str(box["y"])], check=True, capture_output=True)
    wait_until(lambda: any(e["role"] == "checkbox" and e["i"] == box["i"] and
                           e["value"] != box["value"] for e in snapshot(options.ax)["elements"]), 5)
    shoot(options.shot, os.path.join(work, "after.png"))
    _, _, after = read_png(os.path.join(work, "after.png"))
    changed = [(i // 3, v) for v in range(height) for i in range(0, width * 3, 3)
               if before[v][i:i + 3] != after[v][i:i + 3]]
    margin = box["h"] * scale

    def within(u, v, m):
        return left - m <= u <= right + m and top - m <= v <= bottom + m

    inside = [p for p in changed if within(*p, 1)]
    near = [p for p in changed if within(*p, margin) and not within(*p, 1)]
    check(inside and not near,
          "%s: unchecking the check box at its centre (%d,%d) changes %d pixels inside its box "
          "%d,%d-%d,%d of the image and %d around it" % (label, box["x"], box["y"], len(inside),
                                                         left, top, right, bottom, len(near)))
    centre = ((box["x"] - x) * scale, (box["y"] - y) * scale)
    check(left <= centre[0] <= right and top <= centre[1] <= bottom,
          "%s: the centre lands at %s in the image, on the check box" % (label, centre))
    if options.keep:
        shutil.copy(os.path.join(work, "after.png"), os.path.join(options.keep, label + ".png"))


def main():
    parser = argparse.ArgumentParser()
    for name in ("--shot", "--ax", "--click", "--desktop"):
        parser.add_argument(name, required=True)
    parser.add_argument("--keep", help="a folder that receives the screenshots")
    options = parser.parse_args()
    with desktop_session(options.desktop, "shot-e2e-") as work:
        # No application yet, so no frontmost window: status 4, no file.
        out = subprocess.run([options.shot, os.path.join(work, "none.png")], capture_output=True,
                             text=True)
        check(out.returncode == 4 and not os.path.exists(os.path.join(work, "none.png")),
              "without a frontmost window: status %d, %r" % (out.returncode, out.stderr.strip()))
        for label, scale in (("1x", "1"), ("GDK_SCALE=2", "2")):
            pid = launch(options.desktop, work, "env", "GDK_SCALE=" + scale,
                         "gtk3-widget-factory", name="factory" + scale)
            checks(label, options, work)
            os.kill(pid, signal.SIGTERM)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
