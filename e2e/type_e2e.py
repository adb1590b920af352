#!/usr/bin/python3
"""End-to-end checks of vantic-type on the headless test desktop.

- A GTK entry (zenity) and a Qt line edit: typing "Hello, 世界 — 👋 ñ" gives exactly that text
  (read back through AT-SPI), ctrl+a then BackSpace empties it, and the keyboard map (xmodmap
  -pke) is the same before and after.
- A Shift held by someone else changes nothing that is typed and is held again afterwards.
- A run stopped by SIGTERM, SIGINT or SIGKILL while typing leaves no key pressed (the server's
  XI2 raw events show a release after every press); SIGTERM and SIGINT also leave the map as it
  was, SIGKILL leaves it to the next run, and the characters typed before the stop arrive intact.
- Chromium: ctrl+l focuses the address bar, which then takes the same text.

  type_e2e.py --tool VANTIC_TYPE --recorder CLICK_XI2_RECORD --desktop DESKTOP_SH
              [--qt-app AX_QT_APP] [--no-chromium]
"""

import argparse
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_session import atspi_application, check, desktop_session, launch  # noqa: E402
from desktop_session import start_recorder, summary, wait_until  # noqa: E402

TEXT = "Hello, 世界 — 👋 ñ"
# Two batches of spare key codes (19 spare codes with two keysyms each on this map), then ASCII.
LONG = "".join(chr(0x4e00 + i) for i in range(40)) + "abc" * 50
# The event recorder's options for the key checks.
KEYS = ("--keys", "--quiet", "1500", "--timeout", "60000")


def keymap():
    return subprocess.run(["xmodmap", "-pke"], check=True, capture_output=True, text=True).stdout


def run(tool, *args):
    return subprocess.run([tool] + list(args), capture_output=True, text=True, timeout=60)


class Focus:
    """The focused text object of one application, through AT-SPI."""

    def __init__(self, pyatspi, pid):
        self.pyatspi, self.pid = pyatspi, pid

    def find(self):
        app = atspi_application(self.pyatspi, self.pid)
        return app and self._focused(app, 0)

    def _focused(self, node, depth):
        if depth > 30:
            return None
        try:
            if node.getState().contains(self.pyatspi.STATE_FOCUSED) and node.queryText():
                return node
        except NotImplementedError:
            pass
        for i in range(node.childCount):
            child = node.getChildAtIndex(i)
            found = child is not None and self._focused(child, depth + 1)
            if found:
                return found
        return None


def text_of(node):
    return node.queryText().getText(0, -1)


def key_events(rec):
    out, _ = rec.communicate(timeout=90)
    return [(line.split()[0], int(line.split()[1])) for line in out.splitlines()
            if line.startswith("key")]


def unbalanced(events):
    """Key codes whose presses and releases do not alternate, starting pressed, ending released."""
    down, bad = set(), set()
    for kind, code in events:
        if (kind == "keypress") == (code in down):
            bad.add(code)
        (down.add if kind == "keypress" else down.discard)(code)
    return sorted(bad | down)


def entry_checks(label, tool, entry, pid):
    before = keymap()
    run(tool, "key", "ctrl+a", "BackSpace")
    wait_until(lambda: text_of(entry) == "", 5)
    out = run(tool, "text", TEXT)
    check(out.returncode == 0 and out.stdout == "pid=%d sent=text characters=15 remapped=5\n" % pid,
          "%s: report %r (status %d)" % (label, out.stdout.strip(), out.returncode))
    got = wait_until(lambda: text_of(entry) == TEXT, 10) or text_of(entry)
    check(got is True, "%s: typing gives exactly %r (read back %r)" % (label, TEXT, text_of(entry)))
    run(tool, "key", "ctrl+a", "BackSpace")
    check(wait_until(lambda: text_of(entry) == "", 5),
          "%s: ctrl+a then BackSpace empties it (read back %r)" % (label, text_of(entry)))
    after = keymap()
    check(after == before, "%s: the keyboard map is identical before and after (%d lines of "
          "xmodmap -pke)" % (label, len(before.splitlines())))


def held_shift_check(tool, recorder, entry):
    subprocess.run(["xdotool", "keydown", "Shift_L"], check=True)
    rec = start_recorder(recorder, *KEYS)
    run(tool, "text", "abc")
    got = wait_until(lambda: text_of(entry) == "abc", 5) or text_of(entry)
    events = key_events(rec)
    subprocess.run(["xdotool", "keyup", "Shift_L"], check=True)
    check(got is True, "a held Shift does not change the typed text (read back %r)" % text_of(entry))
    check(events[:1] == [("keyrelease", 50)] and events[-1:] == [("keypress", 50)],
          "the held Shift is released first and pressed again last (%s ... %s)"
          % (events[:1], events[-1:]))
    run(tool, "key", "ctrl+a", "BackSpace")


def stop_checks(tool, recorder, entry, pid):
    display = os.environ["DISPLAY"].split(":")[1].split(".")[0]
    journal = os.path.join(os.environ["XDG_RUNTIME_DIR"], "mevrik", "type-journal-x11-" + display)
    for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGKILL):
        run(tool, "key", "ctrl+a", "BackSpace")
        wait_until(lambda: text_of(entry) == "", 5)
        before = keymap()
        rec = start_recorder(recorder, *KEYS)
        # The application is paused, so the run sends the first batch and then waits for the
        # application to read it: the signal comes in the middle of the run.
        os.kill(pid, signal.SIGSTOP)
        typist = subprocess.Popen([tool, "text", LONG], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True)
        # The journal appears just before the first binding, once the run is under way (a
        # loaded machine can take longer than a fixed wait to start the tool).
        wait_until(lambda: os.path.exists(journal) or typist.poll() is not None, 20)
        time.sleep(0.3)
        typist.send_signal(sig)
        time.sleep(0.2)
        os.kill(pid, signal.SIGCONT)
        _, err = typist.communicate(timeout=30)
        events = key_events(rec)
        # What arrived is the text's beginning (the first batch), unchanged.
        time.sleep(0.5)
        typed = text_of(entry)
        name = signal.Signals(sig).name
        check(typist.returncode == -sig and 0 < len(typed) < len(LONG) and LONG.startswith(typed),
              "%s: the run ends by the signal (status %d); the first %d of %d characters arrived "
              "intact" % (name, typist.returncode, len(typed), len(LONG)))
        check(events and not unbalanced(events),
              "%s: every key press has its release (%d key events; unbalanced codes %s)"
              % (name, len(events), unbalanced(events)))
        after = keymap()
        if sig == signal.SIGKILL:
            # Nothing can run after SIGKILL: the spare codes bound at that moment stay bound
            # until the next run, which puts them back first.
            left = len([l for l in after.splitlines() if l not in before.splitlines()])
            out = run(tool, "--restore")
            check(left > 0 and keymap() == before and out.stdout == "restored=%d\n" % left,
                  "SIGKILL left %d spare key codes bound; the next run put the map back (%r)"
                  % (left, out.stdout.strip()))
        else:
            check(after == before and "stopped by a signal" in err,
                  "%s: the keyboard map is as it was (%r)" % (name, err.strip()))


def chromium_check(tool, desktop, work, pyatspi):
    page = "file://" + os.path.join(os.path.dirname(os.path.abspath(__file__)), "ax_page.html")
    pid = launch(desktop, work, "chromium", "--no-sandbox", "--disable-gpu", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--force-renderer-accessibility",
                 "--user-data-dir=" + os.path.join(work, "chromium-profile"), page, name="chromium")
    focus = Focus(pyatspi, pid)

    def address_bar_focused():
        node = focus.find()
        return node is not None and "address" in (node.name or "").lower()

    # The page must be up (the address bar holds its address) before the chord is meaningful.
    wait_until(lambda: focus.find() is not None, 20)
    time.sleep(1)
    out = run(tool, "key", "ctrl+l")
    check(out.returncode == 0 and wait_until(address_bar_focused, 10),
          "chromium: ctrl+l focuses the address bar (%r, focused %r)"
          % (out.stdout.strip(), getattr(focus.find(), "name", None)))
    # The address bar takes the text as the other toolkits do.
    run(tool, "text", TEXT)
    bar = focus.find()
    got = wait_until(lambda: text_of(bar) == TEXT, 10) or text_of(bar)
    check(got is True, "chromium: typing into the address bar gives %r (read back %r)"
          % (TEXT, text_of(bar)))
    subprocess.run(["kill", str(pid)])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--recorder", required=True)
    parser.add_argument("--desktop", required=True)
    parser.add_argument("--qt-app")
    parser.add_argument("--no-chromium", action="store_true")
    options = parser.parse_args()
    desktop, tool = options.desktop, options.tool
    with desktop_session(desktop, "type-e2e-") as work:
        import pyatspi  # only now: it connects to the desktop's buses on import

        if options.qt_app:
            qpid = launch(desktop, work, options.qt_app)
            entry_checks("Qt line edit", tool, wait_until(lambda: Focus(pyatspi, qpid).find(), 10),
                         qpid)
            subprocess.run(["kill", str(qpid)])
        if not options.no_chromium:
            chromium_check(tool, desktop, work, pyatspi)
        # Every map change costs every client (openbox too) a fetch of the map; the stop checks
        # make many, and the window manager can take seconds to catch up, so they come last,
        # after the other applications have been launched.
        zpid = launch(desktop, work, "zenity", "--entry", "--text", "Type here")
        entry = wait_until(lambda: Focus(pyatspi, zpid).find(), 10)
        entry_checks("GTK entry", tool, entry, zpid)
        held_shift_check(tool, options.recorder, entry)
        stop_checks(tool, options.recorder, entry, zpid)
    return summary()


if __name__ == "__main__":
    sys.exit(main())
