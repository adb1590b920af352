#!/usr/bin/python3
"""End-to-end check that a killed vantic-type or vantic-click leaves nothing behind for long.

Each round kills a run with SIGKILL at a random point (half the rounds at a random time after
start, half at a random time after its journal appeared), looks at what the kill left (spare key
codes bound, Caps Lock off, a held Shift released, a mouse button down), then lets a later run
put it back: "--restore" alone or an ordinary run, alternately. The keyboard map (xmodmap -pke),
Caps Lock, the keys down and the buttons down must then be as before the killed run.

  interrupted_e2e.py --type VANTIC_TYPE --click VANTIC_CLICK --desktop DESKTOP_SH [--rounds N]

--rounds (default $INTERRUPTED_ROUNDS, else 6) is the number of kills per tool.
"""

import argparse
import os
import random
import signal
import stat
import subprocess
import sys
import time

import Xlib.X
import Xlib.display

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_session import check, desktop_session, summary  # noqa: E402

# Two batches of spare key codes on the test desktop's map, then plain letters.
TEXT = "".join(chr(0x4e00 + i) for i in range(40)) + "abc" * 30
SHIFT_L = 50


def keymap():
    return subprocess.run(["xmodmap", "-pke"], check=True, capture_output=True, text=True).stdout


def desktop_state():
    """(keyboard map, Caps Lock on, key codes down, buttons 1-5 down as a mask)."""
    display = Xlib.display.Display()
    try:
        pointer = display.screen().root.query_pointer()
        keys = display.query_keymap()
        down = tuple(i * 8 + b for i, byte in enumerate(keys) for b in range(8) if byte >> b & 1)
        return (keymap(), bool(pointer.mask & Xlib.X.LockMask), down, (pointer.mask >> 8) & 0x1f)
    finally:
        display.close()


def describe(before, after):
    changed = []
    if after[0] != before[0]:
        lines = set(before[0].splitlines())
        changed.append("%d key codes bound" % sum(1 for l in after[0].splitlines()
                                                   if l not in lines))
    if after[1] != before[1]:
        changed.append("Caps Lock %s" % ("on" if after[1] else "off"))
    if after[2] != before[2]:
        changed.append("keys down %s (were %s)" % (list(after[2]), list(before[2])))
    if after[3] != before[3]:
        changed.append("buttons down %#x" % after[3])
    return ", ".join(changed) or "nothing"


def clean_duration(command):
    start = time.monotonic()
    subprocess.run(command, check=True, capture_output=True, timeout=60)
    return time.monotonic() - start


def kill_at_random(command, journal, duration, active, after_journal):
    """Starts the command and kills it at a random point, within `duration` of its start or
    within `active` (how long its changes last) of its journal's appearance; gives where."""
    run = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    start = time.monotonic()
    if after_journal:
        # Wait for the record of the first change, then a random share of the rest.
        while not os.path.exists(journal) and run.poll() is None:
            time.sleep(0.002)
        time.sleep(random.uniform(0, active))
    else:
        time.sleep(random.uniform(0, duration))
    run.send_signal(signal.SIGKILL)
    run.wait()
    return "%s %.0f ms" % ("after the journal, at" if after_journal else "at",
                           (time.monotonic() - start) * 1000)


def rounds_of(name, rounds, kill_command, active, restore_commands, journal, prepare, tidy):
    duration = clean_duration(kill_command)
    left, held = 0, 0
    for n in range(rounds):
        prepare()
        before = desktop_state()
        where = kill_at_random(kill_command, journal, duration, active, n % 2 == 1)
        killed = desktop_state()
        if killed != before:
            left += 1
            if os.path.exists(journal):
                mode = stat.S_IMODE(os.stat(journal).st_mode)
                folder = stat.S_IMODE(os.stat(os.path.dirname(journal)).st_mode)
                check(mode == 0o600 and folder == 0o700,
                      "%s: the journal is 0600 in a 0700 folder (%o, %o)" % (name, mode, folder))
        restore = restore_commands[n % len(restore_commands)]
        out = subprocess.run(restore, capture_output=True, text=True, timeout=60)
        after = desktop_state()
        ok = out.returncode == 0 and after == before and not os.path.exists(journal)
        held += ok
        check(ok, "%s round %d: killed %s, which left %s; %s put back %s (status %d %r)"
              % (name, n + 1, where, describe(before, killed), " ".join(restore[1:]),
                 "everything" if after == before else describe(before, after),
                 out.returncode, out.stdout.strip()))
        tidy()
    print("%s: %d rounds tried, %d left something changed, %d held" % (name, rounds, left, held))
    check(left > 0, "%s: some kills came while the run had something changed" % name)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--type", required=True)
    parser.add_argument("--click", required=True)
    parser.add_argument("--desktop", required=True)
    parser.add_argument("--rounds", type=int,
                        default=int(os.environ.get("INTERRUPTED_ROUNDS", "6")))
    options = parser.parse_args()
    with desktop_session(options.desktop, "interrupted-e2e-"):
        runtime = os.environ["XDG_RUNTIME_DIR"]
        number = os.environ["DISPLAY"].split(":")[1].split(".")[0]
        type_journal = os.path.join(runtime, "mevrik", "type-journal-x11-" + number)
        click_journal = os.path.join(runtime, "mevrik", "click-journal-x11-" + number)

        # A Shift someone holds and Caps Lock on: the run releases both for its length.
        def hold():
            subprocess.run(["xdotool", "keydown", "Shift_L"], check=True)
            if not desktop_state()[1]:
                subprocess.run(["xdotool", "key", "Caps_Lock"], check=True)

        def let_go():
            subprocess.run(["xdotool", "keyup", "Shift_L"], check=True)

        # Typing the text takes two bindings with a wait for readers each (150 ms without an
        # application in front); a drag takes about 170 ms.
        rounds_of("vantic-type", options.rounds, [options.type, "text", TEXT], 0.5,
                  [[options.type, "--restore"], [options.type, "key", "Escape"]],
                  type_journal, hold, let_go)
        if desktop_state()[1]:
            subprocess.run(["xdotool", "key", "Caps_Lock"], check=True)
        rounds_of("vantic-click", options.rounds,
                  [options.click, "100", "100", "drag", "700", "500"], 0.2,
                  [[options.click, "--restore"], [options.click, "900", "700", "move"]],
                  click_journal, lambda: None, lambda: None)

        # Without XDG_RUNTIME_DIR there is no journal: the tools still run, and restore nothing.
        env = dict(os.environ)
        del env["XDG_RUNTIME_DIR"]
        out = subprocess.run([options.type, "--restore"], env=env, capture_output=True, text=True)
        check(out.returncode == 0 and out.stdout == "restored=0\n",
              "without XDG_RUNTIME_DIR: %r (status %d)" % (out.stdout, out.returncode))
    return summary()


if __name__ == "__main__":
    sys.exit(main())
