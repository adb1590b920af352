#!/usr/bin/python3
"""End-to-end checks of vantic-click on the headless test desktop with gtk3-widget-factory.

Every action runs while click_xi2_record watches the server's raw input events, so each check
compares both what the application did (through AT-SPI) and what the server saw: the presses,
releases and motions in the plan's order, with the plan's gaps between them, and the pointer back
where it was.

  click_e2e.py --tool VANTIC_CLICK --recorder CLICK_XI2_RECORD --desktop DESKTOP_SH
               [--stock-wm] [--only multi]

--stock-wm runs the desktop with stock openbox (click-to-focus grabs on client windows);
--only multi limits the run to the double and triple click checks.
On the bare root window the gaps may exceed the plan by CLICK_E2E_GAP_SLACK_MS milliseconds
(default 6; the server stamps events when it reads them); an action whose gaps miss is tried up to
three times, as another process may have held the CPU.
"""

import argparse
import os
import subprocess
import sys
import time

import Xlib.display
import Xlib.Xatom

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from desktop_session import atspi_application, check, desktop_session, launch  # noqa: E402
from desktop_session import start_recorder, summary, wait_until  # noqa: E402

GAP_SLACK_MS = int(os.environ.get("CLICK_E2E_GAP_SLACK_MS", "6"))
# On a widget the server also serves the application's reaction (redraws, a popup), which can
# delay the next synthetic event by tens of milliseconds on a busy machine. The checks on widgets
# hold the gaps to their lower bound and to this looser upper one; the exact timing is checked
# on the bare root window, where nothing reacts.
WIDGET_GAP_SLACK_MS = int(os.environ.get("CLICK_E2E_WIDGET_GAP_SLACK_MS", "40"))
TIMING_ATTEMPTS = 3
# Toolkits join presses closer than their double-click time (GTK: 400 ms) into one multi-click.
# Actions at the same spot wait this long in between so that each starts a fresh count.
CLICK_COUNT_RESET_S = 0.5
# A harmless place for the pointer between actions: the root window below the application.
HOME = (1000, 780)


# --- the server's view ---------------------------------------------------------------------------

class Recorded:
    def __init__(self, tool_result, events):
        self.stdout = tool_result.stdout
        self.status = tool_result.returncode
        self.events = events  # (token, time_ms, x, y); token "M", "P1", "R1", ...


def parse_events(text):
    events = []
    for line in text.splitlines():
        parts = line.split()
        if not parts or parts[0] == "ready":
            continue
        fields = dict(p.split("=", 1) for p in parts if "=" in p)
        t = int(fields["t"])
        if parts[0] == "motion":
            x = float(fields["x"]) if "x" in fields else None
            y = float(fields["y"]) if "y" in fields else None
            events.append(("M", t, x, y))
        elif parts[0] == "press":
            events.append(("P" + parts[1], t, None, None))
        elif parts[0] == "release":
            events.append(("R" + parts[1], t, None, None))
    return events


def pointer():
    out = subprocess.run(["xdotool", "getmouselocation", "--shell"], check=True,
                         capture_output=True, text=True).stdout
    values = dict(line.split("=", 1) for line in out.split())
    return int(values["X"]), int(values["Y"])


def go_home():
    subprocess.run(["xdotool", "mousemove", str(HOME[0]), str(HOME[1])], check=True)
    wait_until(lambda: pointer() == HOME, 2)


def act(args, tool, recorder):
    """Runs vantic-click with args from HOME while the recorder watches; returns what it saw."""
    go_home()
    rec = start_recorder(recorder, "--quiet", "400", "--timeout", "15000")
    result = subprocess.run([tool] + [str(a) for a in args], capture_output=True, text=True,
                            timeout=30)
    rest, _ = rec.communicate(timeout=20)
    return Recorded(result, parse_events(rest))


def motion(x, y):
    return ("M", int(x // 1), int(y // 1))


def plan(args):
    """The posts of one action as the server should see them: [(gap_ms, [token...]), ...]."""
    x, y = float(args[0]), float(args[1])
    kind = args[2] if len(args) > 2 else "left"
    at = motion(x, y)
    home = motion(*HOME)
    if kind == "move":
        return [(None, [at])]
    posts = [(None, [at])]
    if kind == "drag":
        ex, ey = float(args[3]), float(args[4])
        posts.append((8, [at, "P1"]))
        for i in range(1, 13):
            t = i / 12
            posts.append((0 if i == 1 else 12, [motion(x + (ex - x) * t, y + (ey - y) * t)]))
        posts.append((12, [motion(ex, ey), "R1"]))
    elif kind == "scroll":
        h, v = int(args[3]), int(args[4])
        wheel = ["P4", "R4"] * v if v > 0 else ["P5", "R5"] * -v
        wheel += ["P6", "R6"] * h if h > 0 else ["P7", "R7"] * -h
        posts.append((8, wheel))
    else:
        button = {"right": "3", "middle": "2"}.get(kind, "1")
        clicks = {"double": 2, "triple": 3}.get(kind, 1)
        for n in range(clicks):
            posts.append((8 if n == 0 else 45, [at, "P" + button]))
            posts.append((0, [at, "R" + button]))
    posts.append((20, [home]))
    return posts


def event_problems(recorded, args, slack):
    """None when the server saw the plan's events in order with its gaps, else what differed."""
    posts = plan(args)
    want = [tok for _, toks in posts for tok in toks]
    got = recorded.events

    def same(w, g):
        if isinstance(w, tuple):
            return g[0] == "M" and (g[2] is None or (int(g[2]) == w[1] and int(g[3]) == w[2]))
        return g[0] == w

    shown = " ".join(g[0] if g[0] != "M" or g[2] is None else "M(%d,%d)" % (g[2], g[3])
                     for g in got)
    if len(want) != len(got) or not all(same(w, g) for w, g in zip(want, got)):
        return "events out of plan: [%s]" % shown, []
    i = 0
    bad = []
    gaps = []
    for gap, toks in posts:
        if gap is not None:
            actual = got[i][1] - got[i - 1][1]
            gaps.append(actual)
            # Timestamps are whole milliseconds, so a gap may read one short.
            if not gap - 1 <= actual <= gap + slack:
                bad.append("%d ms where %d ms" % (actual, gap))
        i += len(toks)
    if bad:
        return "gaps %s ms: %s" % (gaps, ", ".join(bad)), gaps
    return None, gaps


def check_events(name, recorded, args, slack=WIDGET_GAP_SLACK_MS):
    problem, gaps = event_problems(recorded, args, slack)
    check(problem is None, "%s: the server saw the plan's events and gaps %s ms%s"
          % (name, gaps, "" if problem is None else " (" + problem + ")"))


def timing_checks(tool, recorder):
    # Over the root window below the application, where no client reacts to the events.
    x, y = 600, 770
    actions = ([x, y], [x, y, "double"], [x, y, "triple"], [x, y, "right"], [x, y, "middle"],
               [x, y, "drag", x + 121, y + 13], [x, y, "scroll", 2, -3], [x + 0.5, y, "move"])
    for args in actions:
        name = "timing of " + " ".join(str(a) for a in args)
        problems = []
        for _ in range(TIMING_ATTEMPTS):
            time.sleep(CLICK_COUNT_RESET_S)
            rec = act(args, tool, recorder)
            problem, gaps = event_problems(rec, args, GAP_SLACK_MS)
            if problem is None:
                break
            problems.append(problem)
        attempts = len(problems) + (1 if problem is None else 0)
        check(problem is None, "%s: exact gaps on the server %s ms (%d attempt(s))"
              % (name, gaps, attempts))
        for p in problems:
            print("     attempt: " + p)


def act_checked(name, args, tool, recorder):
    """act, then checks the server's events and that the pointer came back, as reported."""
    recorded = act(args, tool, recorder)
    check_events(name, recorded, args)
    line = recorded.stdout.strip()
    home = "%d,%d" % HOME
    check(recorded.status == 0 and line.endswith("real_cursor_before=%s after=%s" % (home, home)),
          "%s: report line %r" % (name, line))
    check(pointer() == HOME, "%s: the pointer is back at %s" % (name, home))
    return recorded


def set_active_window(window):
    """Sets the root window's _NET_ACTIVE_WINDOW to window (an id, 0 for none, or "root"), as a
    window manager would."""
    x11 = Xlib.display.Display()
    root = x11.screen().root
    root.change_property(x11.intern_atom("_NET_ACTIVE_WINDOW"), Xlib.Xatom.WINDOW, 32,
                         [root.id if window == "root" else window])
    x11.sync()  # the server has set it before the next action starts
    x11.close()


def broken_window_manager_checks(tool, recorder):
    # An active window that closed a moment ago makes the property read fail on the server with
    # BadWindow; one without _NET_WM_PID has no pid. Neither may stop the action or its report.
    for active, what in ((0x3ffff0, "an active window that no longer exists"),
                         ("root", "an active window without _NET_WM_PID")):
        set_active_window(active)
        args = [600, 770]
        rec = act(args, tool, recorder)
        check(rec.stdout.strip() == "pid=0 delivery=hid+restore real_cursor_before=%d,%d "
              "after=%d,%d" % (HOME + HOME), "left click with %s reports %r"
              % (what, rec.stdout.strip()))
        check_events("left click with " + what, rec, args)
    set_active_window(0)


# --- the application's view ----------------------------------------------------------------------

class App:
    def __init__(self, pyatspi, pid):
        self.pyatspi = pyatspi
        self.pid = pid

    def root(self):
        app = wait_until(lambda: atspi_application(self.pyatspi, self.pid), 5)
        if app is None:
            alive = os.path.exists("/proc/%d" % self.pid)
            raise RuntimeError("gtk3-widget-factory (pid %d, %s) is not on the AT-SPI registry"
                               % (self.pid, "running" if alive else "gone"))
        return app

    def find_all(self, predicate):
        showing = self.pyatspi.STATE_SHOWING
        found = []

        def walk(node, depth):
            for i in range(node.childCount):
                child = node.getChildAtIndex(i)
                if child is None or not child.getState().contains(showing):
                    continue
                if predicate(child):
                    found.append(child)
                walk(child, depth + 1)

        walk(self.root(), 0)
        return found

    def show_page(self, name):
        button = self.find_all(lambda o: o.getRoleName() == "radio button" and o.name == name)[0]
        button.queryAction().doAction(0)
        checked = self.pyatspi.STATE_CHECKED
        wait_until(lambda: button.getState().contains(checked), 3)

    def extents(self, node):
        e = node.queryComponent().getExtents(self.pyatspi.DESKTOP_COORDS)
        return e.x, e.y, e.width, e.height


def center(box):
    x, y, w, h = box
    return x + w // 2, y + h // 2


def plain_entry(app):
    # Page 1's plain entry: single line, sensitive, not inside a combo box, without an icon.
    # (The one above it is insensitive: it takes no clicks.)
    single, sensitive = app.pyatspi.STATE_SINGLE_LINE, app.pyatspi.STATE_SENSITIVE
    entries = app.find_all(lambda o: o.getRoleName() == "text" and o.getState().contains(single)
                           and o.getState().contains(sensitive)
                           and o.parent.getRoleName() != "combo box" and o.childCount == 0)
    return entries[0]


def reset_entry(app, entry, text):
    entry.queryEditableText().setTextContents(text)
    t = entry.queryText()
    t.setCaretOffset(len(text))
    wait_until(lambda: t.getText(0, -1) == text and t.getNSelections() == 0, 3)
    time.sleep(CLICK_COUNT_RESET_S)


def selection(entry):
    t = entry.queryText()
    if t.getNSelections() == 0:
        return None
    start, end = t.getSelection(0)
    return start, end


def char_point(app, entry, index, where=0.5):
    x, y, w, h = entry.queryText().getCharacterExtents(index, app.pyatspi.DESKTOP_COORDS)
    return x + int(w * where), y + h // 2


def multi_click_checks(app, tool, recorder, label):
    entry = plain_entry(app)
    text = "alpha beta gamma"
    for kind, want in (("double", (6, 10)), ("triple", (0, len(text)))):
        reset_entry(app, entry, text)
        x, y = char_point(app, entry, 8)
        name = "%s %s click in an entry" % (label, kind)
        act_checked(name, [x, y, kind], tool, recorder)
        wait_until(lambda: selection(entry) == want, 3)
        got = selection(entry)
        check(got == want, "%s selects %r (selection %r)" % (name, text[want[0]:want[1]], got))


def extreme_checks(tool, recorder):
    # Coordinates beyond the X protocol's range, infinite or NaN are clamped, not overflowed: the
    # server then keeps the pointer on the screen.
    for args, want in (([1e999, "-inf", "move"], (1279, 0)), (["nan", "1e300", "move"], (0, 799)),
                       ([-40000.5, 3e9, "move"], (0, 799))):
        rec = act(args, tool, recorder)
        check(rec.status == 0 and pointer() == want,
              "move to %s %s puts the pointer at %s (at %s)" % (args[0], args[1], want, pointer()))
    # The largest amount is capped at 1000 wheel clicks per axis instead of running for hours.
    started = time.monotonic()
    rec = act([600, 770, "scroll", -2147483648, 2147483647], tool, recorder)
    took = time.monotonic() - started
    presses = [e[0] for e in rec.events if e[0].startswith("P")]
    check(rec.status == 0 and presses == ["P4"] * 1000 + ["P7"] * 1000,
          "scroll by 2^31 lines gives 1000 wheel clicks per axis (%d presses, %.1f s)"
          % (len(presses), took))


def left_and_move_checks(app, tool, recorder):
    entry = plain_entry(app)
    reset_entry(app, entry, "alpha beta gamma")
    x, y = char_point(app, entry, 3, 0.0)
    rec = act_checked("left click", [x, y], tool, recorder)
    t = entry.queryText()
    check(wait_until(lambda: t.caretOffset == 3, 3),
          "left click puts the caret before the clicked character (offset %d)" % t.caretOffset)
    check(rec.stdout.startswith("pid=%d delivery=hid+restore " % app.pid),
          "left click reports the frontmost pid %d" % app.pid)

    args = [300.5, 650.25, "move"]
    rec = act(args, tool, recorder)
    check_events("move", rec, args)
    check(rec.stdout.strip() == "pid=%d delivery=pid real_cursor_before=%d,%d after=300,650"
          % (app.pid, HOME[0], HOME[1]), "move reports %r" % rec.stdout.strip())
    check(pointer() == (300, 650), "move leaves the pointer at 300,650")


def right_and_middle_checks(app, tool, recorder):
    entry = plain_entry(app)
    reset_entry(app, entry, "alpha beta gamma")
    x, y = center(app.extents(entry))
    act_checked("right click", [x, y, "right"], tool, recorder)
    menu_item = lambda: app.find_all(lambda o: o.getRoleName() == "menu item"
                                     and o.name == "Select All")
    check(wait_until(menu_item, 5), "right click opens the entry's context menu")
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    check(wait_until(lambda: not menu_item(), 5), "the context menu closes again")

    # The middle button pastes the primary selection: a double click selects "alpha" (and so
    # makes it the primary selection), a middle click at the end of the text pastes it there.
    text = "alpha beta gamma"
    reset_entry(app, entry, text)
    x, y = char_point(app, entry, 2)
    act([x, y, "double"], tool, recorder)
    wait_until(lambda: selection(entry) == (0, 5), 3)
    time.sleep(CLICK_COUNT_RESET_S)
    end_x, end_y = char_point(app, entry, len(text) - 1, 1.0)
    act_checked("middle click", [end_x + 3, end_y, "middle"], tool, recorder)
    t = entry.queryText()
    check(wait_until(lambda: t.getText(0, -1) == text + "alpha", 3),
          "middle click pastes the primary selection (%r)" % t.getText(0, -1))


def drag_checks(app, tool, recorder):
    entry = plain_entry(app)
    reset_entry(app, entry, "alpha beta gamma")
    x0, y0 = char_point(app, entry, 0, 0.0)
    x1, _ = char_point(app, entry, 10, 0.0)
    act_checked("drag over text", [x0 + 1, y0, "drag", x1 + 1, y0], tool, recorder)
    wait_until(lambda: selection(entry) == (0, 10), 3)
    got = selection(entry)
    check(got == (0, 10), "drag selects 'alpha beta' (selection %r)" % (got,))

    # Page 1's lone horizontal scale.
    sliders = [s for s in app.find_all(lambda o: o.getRoleName() == "slider")
               if app.extents(s)[2] > app.extents(s)[3] and app.extents(s)[1] > 200]
    slider = sliders[0]
    value = slider.queryValue()
    low, high = value.minimumValue, value.maximumValue
    sx, sy, sw, sh = app.extents(slider)
    for start, end in ((0.2, 0.8), (0.8, 0.2)):
        time.sleep(CLICK_COUNT_RESET_S)
        args = [sx + int(sw * start), sy + sh // 2, "drag", sx + int(sw * end), sy + sh // 2]
        name = "drag on a slider from %d%% to %d%%" % (start * 100, end * 100)
        act_checked(name, args, tool, recorder)
        fraction = lambda: (value.currentValue - low) / (high - low)
        moved = wait_until(lambda: abs(fraction() - end) < 0.15, 3)
        check(moved, "%s leaves it at %.2f of its range" % (name, fraction()))


def scroll_checks(app, tool, recorder):
    app.show_page("Page 3")
    # Page 3's text view does not wrap, so with long lines it scrolls both ways.
    views = [p for p in app.find_all(lambda o: o.getRoleName() == "scroll pane")
             if p.childCount and p.getChildAtIndex(0).getRoleName() == "text"]
    pane = views[0]
    view = pane.getChildAtIndex(0)
    line = " ".join("word%d" % i for i in range(60))
    view.queryEditableText().setTextContents("\n".join("%d %s" % (n, line) for n in range(80)))
    bars = [pane.getChildAtIndex(i) for i in range(pane.childCount)
            if pane.getChildAtIndex(i).getRoleName() == "scroll bar"]
    horizontal = [b for b in bars if b.getState().contains(app.pyatspi.STATE_HORIZONTAL)][0]
    vertical = [b for b in bars if b.getState().contains(app.pyatspi.STATE_VERTICAL)][0]
    wait_until(lambda: horizontal.queryValue().maximumValue > 100
               and vertical.queryValue().maximumValue > 100, 3)
    x, y = center(app.extents(pane))

    def position():
        return horizontal.queryValue().currentValue, vertical.queryValue().currentValue

    def settled(previous):
        # Wait until the view moved and then held still for a moment (GTK may animate).
        def moved_and_still():
            a = position()
            if a == previous:
                return None
            time.sleep(0.15)
            return a if position() == a else None
        return wait_until(moved_and_still, 3)

    steps = (("down", 0, -3, lambda a, b: b[1] > a[1] and b[0] == a[0]),
             ("up", 0, 3, lambda a, b: b[1] < a[1] and b[0] == a[0]),
             ("right", -3, 0, lambda a, b: b[0] > a[0] and b[1] == a[1]),
             ("left", 3, 0, lambda a, b: b[0] < a[0] and b[1] == a[1]),
             # Both axes in one action: vertical clicks first, then horizontal.
             ("right and down", -2, -2, lambda a, b: b[0] > a[0] and b[1] > a[1]))
    for name, h, v, moved in steps:
        before = position()
        full = "scroll %s (%d, %d)" % (name, h, v)
        act_checked(full, [x, y, "scroll", h, v], tool, recorder)
        after = settled(before) or position()
        check(moved(before, after), "%s moves the view from %s to %s" % (full, before, after))
    app.show_page("Page 1")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--recorder", required=True)
    parser.add_argument("--desktop", required=True)
    parser.add_argument("--stock-wm", action="store_true")
    parser.add_argument("--only", choices=["multi"])
    options = parser.parse_args()

    desktop = options.desktop
    with desktop_session(desktop, "click-e2e-", *(["--stock-wm"] if options.stock_wm else [])) \
            as directory:
        try:
            if options.only != "multi":
                # No application yet: no active window, so pid 0, and the move goes system-wide.
                rec = act([600, 770, "move"], options.tool, options.recorder)
                check(rec.stdout.strip() == "pid=0 delivery=pid real_cursor_before=%d,%d "
                      "after=600,770" % HOME,
                      "move without a frontmost application reports %r" % rec.stdout.strip())
                broken_window_manager_checks(options.tool, options.recorder)
            pid = launch(desktop, directory, "gtk3-widget-factory")
            import pyatspi  # only now: it connects to the desktop's buses on import

            app = App(pyatspi, pid)
            label = "stock openbox:" if options.stock_wm else "bare openbox:"
            multi_click_checks(app, options.tool, options.recorder, label)
            if options.only != "multi":
                timing_checks(options.tool, options.recorder)
                extreme_checks(options.tool, options.recorder)
                left_and_move_checks(app, options.tool, options.recorder)
                right_and_middle_checks(app, options.tool, options.recorder)
                drag_checks(app, options.tool, options.recorder)
                scroll_checks(app, options.tool, options.recorder)
        except Exception:
            log = os.path.join(directory, "gtk3-widget-factory.log")
            if os.path.exists(log):
                print("--- gtk3-widget-factory.log:\n" + open(log, errors="replace").read()[-3000:])
            raise
    return summary()


if __name__ == "__main__":
    sys.exit(main())
