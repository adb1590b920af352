"""The same walk as vantic-ax, written with pyatspi: the yardstick of bench/atspi_snapshot.sh.

Walks the active window of the application with the given process id depth-first, reading what
vantic-ax reads (role, states, extents and children of every element; name, description,
placeholder, value of candidates), with the same hidden-object rule, off-screen pruning and
record decision, and prints one line of JSON with the record and visit counts. An optional second
argument is a time budget in seconds, counted like vantic-ax's from the start of the walk.
"""
import json
import sys
import time

import pyatspi

ROLES = {
    pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
    pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT,
    pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_LINK, pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_MENU_ITEM,
    pyatspi.ROLE_CHECK_MENU_ITEM, pyatspi.ROLE_RADIO_MENU_ITEM, pyatspi.ROLE_MENU,
    pyatspi.ROLE_SLIDER, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_HEADING, pyatspi.ROLE_TABLE_CELL,
    pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TREE_ITEM, pyatspi.ROLE_TABLE_COLUMN_HEADER,
    pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC, pyatspi.ROLE_CAPTION, pyatspi.ROLE_DATE_EDITOR,
}
TEXT = {pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_LABEL, pyatspi.ROLE_STATIC,
        pyatspi.ROLE_CAPTION}
CHECKED = {pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON}
NUMBER = {pyatspi.ROLE_SLIDER, pyatspi.ROLE_SPIN_BUTTON}
SCREEN_W, SCREEN_H = 1280, 800


def main():
    pid = int(sys.argv[1])
    budget = float(sys.argv[2]) if len(sys.argv) > 2 else float("inf")
    desktop = pyatspi.Registry.getDesktop(0)
    app = next(a for a in desktop if a is not None and a.get_process_id() == pid)
    window = next(w for w in app if w.getState().contains(pyatspi.STATE_ACTIVE))
    counts = {"records": 0, "visited": 0, "truncated": False}
    start = time.monotonic()

    def visit(obj, depth):
        if counts["truncated"]:
            return
        counts["visited"] += 1
        if time.monotonic() - start > budget:
            counts["truncated"] = True
            return
        try:
            role = obj.getRole()
            states = obj.getState()
            ext = obj.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        except Exception:
            return
        if not states.contains(pyatspi.STATE_SHOWING):
            return
        x, y, w, h = ext.x, ext.y, ext.width, ext.height
        if w > 0 and h > 0 and (x + w <= 0 or y + h <= 0 or x >= SCREEN_W or y >= SCREEN_H):
            return
        if role in ROLES and w > 1 and h > 1:
            label = obj.name or obj.description
            if not label and role in (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY):
                label = obj.getAttributes() and ""
            value = ""
            try:
                if role in TEXT:
                    text = obj.queryText()
                    value = text.getText(0, min(text.characterCount, 4000))
                elif role in CHECKED:
                    value = "1" if states.contains(pyatspi.STATE_CHECKED) else "0"
                elif role in NUMBER:
                    value = str(obj.queryValue().currentValue)
            except Exception:
                pass
            states.contains(pyatspi.STATE_ENABLED)
            if label or value:
                counts["records"] += 1
        # Once the budget is spent the walk reads no further, as vantic-ax's: iterating on would
        # fetch every remaining sibling, which under a spreadsheet (2^31 - 1 cells) never ends.
        for child in obj:
            if counts["truncated"]:
                break
            if child is not None:
                visit(child, depth + 1)

    visit(window, 0)
    print(json.dumps(counts))


main()
