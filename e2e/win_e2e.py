#!/usr/bin/python3
"""End-to-end checks of vantic-win and of vantic-click's guard on the headless test desktop, with
xterm in front of gtk3-widget-factory.

  win_e2e.py --win VANTIC_WIN --click VANTIC_CLICK --recorder CLICK_XI2_RECORD --desktop DESKTOP_SH
"""

import argparse
import json
import os
import re
import signal
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_session import check, desktop_session, launch, start_recorder  # noqa: E402
from desktop_session import summary, wait_until  # noqa: E402


def run(tool, *args, env=None):
    """(status, the one JSON line as an object) of a vantic-win run."""
    result = subprocess.run([tool] + [str(a) for a in args], capture_output=True, text=True,
                            timeout=30, env=env)
    lines = result.stdout.splitlines()
    check(len(lines) == 1, "vantic-win %s prints one line: %r" % (" ".join(map(str, args)),
                                                                  result.stdout))
    return result.returncode, json.loads(lines[0]) if lines else {}


def active_window():
    out = subprocess.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"], capture_output=True,
                         text=True).stdout
    return int(out.split()[-1], 16) if "#" in out else 0


def inside(window, margin=5):
    return (window["x"] + margin, window["y"] + window["h"] // 2)


def list_checks(win, term_pid, factory_pid):
    status, listing = run(win, "list")
    windows = listing.get("windows", [])
    pids = [w["pid"] for w in windows]
    check(status == 0 and pids[:2] == [term_pid, factory_pid],
          "list shows xterm, then the factory, topmost first: %r" % pids)
    term, factory = windows[0], windows[1]
    check(term["app"] == "XTerm" and term["focused"] and not factory["focused"],
          "xterm is named XTerm and focused: %r" % term)
    # The frame holds the client area that xwininfo reports, decorations around it.
    info = subprocess.run(["xwininfo", "-id", str(term["id"])], capture_output=True,
                          text=True).stdout
    fields = dict(line.strip().split(":", 1) for line in info.splitlines() if ":" in line)
    cx, cy = int(fields["Absolute upper-left X"]), int(fields["Absolute upper-left Y"])
    cw, ch = int(fields["Width"]), int(fields["Height"])
    check(term["x"] <= cx and term["y"] < cy and term["x"] + term["w"] >= cx + cw and
          term["y"] + term["h"] >= cy + ch, "xterm's frame %r holds its client %r" %
          (term, (cx, cy, cw, ch)))
    return term, factory


def at_checks(win, term, factory):
    x, y = inside(term)
    status, found = run(win, "at", x, y)
    check(status == 0 and found.get("id") == term["id"], "at %d,%d names xterm: %r" % (x, y, found))
    # The factory's right part lies beside the terminal.
    fx, fy = term["x"] + term["w"] + 20, term["y"] + term["h"] // 2
    status, found = run(win, "at", fx, fy)
    check(status == 0 and found.get("id") == factory["id"],
          "at %d,%d names the factory: %r" % (fx, fy, found))
    return (x, y), (fx, fy)


def guard_checks(click, recorder, factory_pid, over_term, over_factory):
    home = subprocess.run(["xdotool", "getmouselocation"], capture_output=True, text=True).stdout
    rec = start_recorder(recorder, "--quiet", "400", "--timeout", "10000")
    refused = subprocess.run([click, str(over_term[0]), str(over_term[1]), "--expect-pid",
                              str(factory_pid)], capture_output=True, text=True, timeout=30)
    events, _ = rec.communicate(timeout=20)
    posted = [line for line in events.splitlines() if line.split()[:1] in (["press"], ["motion"])]
    check(refused.returncode == 5 and refused.stdout == "" and not posted,
          "a guarded click over xterm is refused with status 5 and posts nothing (%d, %r)" %
          (refused.returncode, posted[:3]))
    check(refused.stderr.startswith("vantic-click: refused: ") and '"XTerm"' in refused.stderr and
          refused.stderr.count("\n") == 1, "the refusal names xterm: %r" % refused.stderr)
    after = subprocess.run(["xdotool", "getmouselocation"], capture_output=True, text=True).stdout
    check(after == home, "the pointer stays where it was")
    accepted = subprocess.run([click, str(over_factory[0]), str(over_factory[1]), "move",
                               "--expect-pid", str(factory_pid)], capture_output=True, text=True,
                              timeout=30)
    check(accepted.returncode == 0 and accepted.stdout.startswith("pid="),
          "a guarded move over the factory is performed: %r" % accepted.stdout)


def focus_checks(win, term, factory, factory_pid):
    status, focused = run(win, "focus", "--pid", factory_pid)
    check(status == 0 and focused.get("id") == factory["id"] and focused.get("focused"),
          "focus --pid brings the factory forward: %r" % focused)
    check(active_window() == factory["id"], "the window manager reports the factory active")
    status, listing = run(win, "list")
    check([w["id"] for w in listing["windows"]][:1] == [factory["id"]],
          "the factory is now on top of the list")
    # A minimised terminal comes back.
    subprocess.run(["xdotool", "windowminimize", "--sync", str(term["id"])], check=True)
    status, listing = run(win, "list")
    check(any(w["id"] == term["id"] and w["minimized"] for w in listing["windows"]),
          "list says the terminal is minimised")
    status, focused = run(win, "focus", hex(term["id"]))
    check(status == 0 and focused.get("id") == term["id"] and not focused.get("minimized") and
          [focused.get(k) for k in "xywh"] == [term[k] for k in "xywh"],
          "focus un-minimises and activates the terminal, back in its place: %r" % focused)
    for target in (["--app", "NoSuchApp"], ["--pid", "999999"], ["0x7fffffff"]):
        status, error = run(win, "focus", *target)
        check(status == 4 and active_window() == term["id"],
              "focus %s gives status 4 and changes nothing: %r" % (" ".join(target), error))


def launch_checks(win):
    status, launched = run(win, "launch", "gtk3-widget-factory", "--timeout", "20")
    check(status == 0 and launched.get("app") == "Gtk3-widget-factory" and launched.get("pid"),
          "launch of the factory's desktop entry prints its new window: %r" % launched)
    if launched.get("pid"):
        os.kill(launched["pid"], signal.SIGTERM)
    status, error = run(win, "launch", "--timeout", "5", "--", "false")
    check(status == 6 and "exited without showing a window" in error.get("error", ""),
          "a command that exits at once: %r" % error)
    status, error = run(win, "launch", "no-such-entry")
    check(status == 4, "an unknown desktop id gives status 4: %r" % error)
    status, error = run(win, "launch", "--timeout", "1", "--", "sleep", "30")
    check(status == 6 and "showed no window within 1 s" in error.get("error", ""),
          "a command that never maps a window: %r" % error)
    started = re.search(r"\(pid (\d+)\)", error.get("error", ""))
    if started:
        os.kill(int(started.group(1)), signal.SIGTERM)


def partial_ewmh_checks(win, click, factory):
    """A window manager that announces itself but lacks part of EWMH (here openbox with the
    root's properties edited): vantic-win refuses at once and acts on no window."""
    supported = subprocess.run(["xprop", "-root", "-notype", "_NET_SUPPORTED"], capture_output=True,
                               text=True).stdout.split("=", 1)[1]
    atoms = [a.strip() for a in supported.split(",") if a.strip() != "_NET_ACTIVE_WINDOW"]
    subprocess.run(["xprop", "-root", "-f", "_NET_SUPPORTED", "32a", "-set", "_NET_SUPPORTED",
                    ",".join(atoms)], check=True)
    before = active_window()
    status, error = run(win, "focus", factory["id"])
    check(status == 3 and "activate" in error.get("error", "") and active_window() == before,
          "without _NET_ACTIVE_WINDOW focus gives status 3 and changes nothing: %r" % error)
    subprocess.run(["xprop", "-root", "-remove", "_NET_CLIENT_LIST_STACKING"], check=True)
    no_list_checks(win, click, "without a stacking list", "_NET_CLIENT_LIST_STACKING")


def no_list_checks(win, click, case, needle):
    """list gives status 3 naming what is missing, and a guarded click is refused."""
    status, error = run(win, "list")
    check(status == 3 and needle in error.get("error", ""),
          "%s list gives status 3: %r" % (case, error))
    refused = subprocess.run([click, "10", "10", "--expect-pid", "1"], capture_output=True,
                             text=True)
    check(refused.returncode == 5 and "cannot tell which window" in refused.stderr,
          "and a guarded click is refused: %r" % refused.stderr)


def no_window_manager_checks(win, click, directory):
    for line in open(os.path.join(directory, "pids")):
        pid, name = line.split()
        if name == "openbox":
            os.kill(int(pid), signal.SIGTERM)
            wait_until(lambda: subprocess.run(["kill", "-0", pid]).returncode != 0, 5)
    no_list_checks(win, click, "without a window manager", "EWMH")
    env = dict(os.environ, DISPLAY=":4095")
    status, error = run(win, "list", env=env)
    check(status == 1 and "cannot open the X display" in error.get("error", ""),
          "without a display list gives status 1: %r" % error)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--win", "--click", "--recorder", "--desktop"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    with desktop_session(options.desktop, "win-e2e-") as directory:
        factory_pid = launch(options.desktop, directory, "gtk3-widget-factory")
        # xterm has no accessibility tree to wait for.
        term_pid = int(subprocess.run(
            [options.desktop, "launch", directory, "--name", "xterm", "--no-a11y", "--", "xterm"],
            check=True, capture_output=True, text=True).stdout.strip())
        term, factory = list_checks(options.win, term_pid, factory_pid)
        over_term, over_factory = at_checks(options.win, term, factory)
        guard_checks(options.click, options.recorder, factory_pid, over_term, over_factory)
        focus_checks(options.win, term, factory, factory_pid)
        launch_checks(options.win)
        partial_ewmh_checks(options.win, options.click, factory)
        no_window_manager_checks(options.win, options.click, directory)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
