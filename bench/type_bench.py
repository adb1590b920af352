#!/usr/bin/python3
"""vantic-type next to `xdotool type --delay 0`, typing the same texts into the same GTK entry.

Starts a test desktop with a zenity entry, then for each text and each tool, in alternating order:
empties the entry, starts the tool and polls the entry through AT-SPI until the whole text is there
(or nothing changed for a second). Prints, per text and tool, the median time from the start to
the last character arriving, and how many runs delivered the whole text.

  bench/type_bench.py BUILD/type/vantic-type [--runs N]
"""

import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "e2e"))
from desktop_session import desktop_session, launch, wait_until  # noqa: E402
from type_e2e import Focus, text_of  # noqa: E402

ASCII = ("The quick brown fox jumps over the lazy dog; pack my box with five dozen liquor jugs! "
         "0123456789 (Sphinx of black quartz, judge my vow.) How vexingly quick daft zebras jump? "
         "Waltz, bad nymph, for quick jigs vex.")[:200]
JAPANESE = "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。何でも薄暗いじめじめした所で泣いていた事だけは記憶"[:50]


def one_run(command, text, entry, tool):
    subprocess.run([tool, "key", "ctrl+a", "BackSpace"], check=True, capture_output=True)
    wait_until(lambda: text_of(entry) == "", 5)
    start = time.monotonic()
    child = subprocess.Popen(command + [text], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    last, changed = "", start
    while True:
        now = time.monotonic()
        current = text_of(entry)
        if current != last:
            last, changed = current, now
        if current == text or now - changed > 1.0:
            break
        time.sleep(0.002)
    child.wait(timeout=30)
    return changed - start, last == text, last


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("--runs", type=int, default=5)
    options = parser.parse_args()
    tool = os.path.abspath(options.tool)
    desktop = os.path.join(ROOT, "e2e", "desktop.sh")
    with desktop_session(desktop, "type-bench-") as work:
        import pyatspi

        pid = launch(desktop, work, "zenity", "--entry", "--width", "900")
        entry = wait_until(lambda: Focus(pyatspi, pid).find(), 10)
        tools = {"vantic-type": [tool, "text"], "xdotool --delay 0": ["xdotool", "type",
                                                                     "--delay", "0"]}
        print("%-22s %-18s %10s %8s  %s" % ("text", "tool", "median ms", "whole", "sample"))
        for name, text in (("200 ASCII", ASCII), ("50 Japanese", JAPANESE)):
            times = {t: [] for t in tools}
            whole = {t: 0 for t in tools}
            sample = {}
            for run in range(options.runs):
                order = list(tools) if run % 2 == 0 else list(reversed(tools))
                for t in order:
                    seconds, complete, got = one_run(tools[t], text, entry, tool)
                    times[t].append(seconds * 1000)
                    whole[t] += complete
                    sample[t] = got
            for t in tools:
                print("%-22s %-18s %10.1f %5d/%d  %r" % (name, t, statistics.median(times[t]),
                                                        whole[t], options.runs, sample[t][:24]))
            ratio = statistics.median(times["xdotool --delay 0"]) / statistics.median(
                times["vantic-type"])
            print("%-22s xdotool/vantic-type time ratio: %.2f" % (name, ratio))


if __name__ == "__main__":
    main()
