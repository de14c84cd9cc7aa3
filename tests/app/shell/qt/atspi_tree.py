"""Reads the accessibility tree of the Torvane window over AT-SPI and checks
what a screen reader gets from it:
  atspi_tree.py TITLE
- every field (text, list, table, tree and their items, combo and spin
  boxes) and every button (push, toggle, radio, check) of the window has a
  name, and no two buttons share one;
- pressing the button "Clear all fields" through its accessible action
  changes the status field's description to "ALL Cleared." and raises the
  event for it.
Prints what it found; exits 1 with the reasons when a check fails."""
import sys
import time

import pyatspi
from gi.repository import GLib

TITLE = sys.argv[1]
FIELD_ROLES = {
    pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY, pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_SPIN_BUTTON,
    pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_LIST, pyatspi.ROLE_LIST_BOX, pyatspi.ROLE_LIST_ITEM,
    pyatspi.ROLE_TABLE, pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_TREE, pyatspi.ROLE_TREE_TABLE,
    pyatspi.ROLE_TREE_ITEM, pyatspi.ROLE_DOCUMENT_TEXT,
}
BUTTON_ROLES = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_RADIO_BUTTON,
                pyatspi.ROLE_CHECK_BOX}
STATUS_EVENT = "object:property-change:accessible-description"
WAIT = 60  # seconds, for the window and for the event


def fail(reasons):
    for r in reasons:
        print("accessibility tree: " + r, file=sys.stderr)
    sys.exit(1)


def find_window():
    deadline = time.monotonic() + WAIT
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is None:
                continue
            for j in range(app.childCount):
                window = app.getChildAtIndex(j)
                if window is not None and window.name == TITLE:
                    return window
        time.sleep(0.2)
    fail([f"no window \"{TITLE}\" on the accessibility bus within {WAIT} s"])


def controls(node):
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is None:
            continue
        yield child
        yield from controls(child)


window = find_window()
fields, buttons = [], []
for c in controls(window):
    role = c.getRole()
    if role in FIELD_ROLES:
        fields.append(c)
    elif role in BUTTON_ROLES:
        buttons.append(c)

problems = []
for c in fields + buttons:
    if not c.name.strip():
        parent = c.parent
        problems.append(f"a nameless {c.getRoleName()} (in {parent.getRoleName()} \"{parent.name}\")")
seen = {}
for b in buttons:
    if b.name.strip():
        seen.setdefault(b.name, []).append(b)
for name, same in seen.items():
    if len(same) > 1:
        problems.append(f"{len(same)} buttons are all named \"{name}\"")
# The window has at least its seven value fields and 33 buttons: a tree
# that shows fewer was not read whole.
if len(fields) < 7 or len(buttons) < 33:
    problems.append(f"only {len(fields)} fields and {len(buttons)} buttons were found")
print(f"accessibility tree: {len(fields)} fields: " + ", ".join(f"\"{f.name}\"" for f in fields))
print(f"accessibility tree: {len(buttons)} buttons: " + ", ".join(f"\"{b.name}\"" for b in buttons))

status = [f for f in fields if f.name == "Status"]
clear_all = [b for b in buttons if b.name == "Clear all fields"]
if len(status) != 1 or len(clear_all) != 1:
    problems.append("no single field \"Status\" and button \"Clear all fields\"")
if problems:
    fail(problems)

# The status change, heard as an event. The window sends only the events
# some listener has asked for, and hears of a new listener a moment later:
# the buttons are pressed one after the other, every few seconds, until the
# event of the status the last press gave arrives.
copy_to_x = [b for b in buttons if b.name == "Copy answer to X"]
presses = [(clear_all[0], "ALL Cleared.")]
if len(copy_to_x) == 1:
    presses.append((copy_to_x[0], "Answer copied to X."))
expected = []
heard = []


def on_event(event):
    try:
        if event.source.name == "Status" and expected and event.source.description == expected[-1][0]:
            heard.append((expected[-1][0], time.monotonic() - expected[-1][1]))
            pyatspi.Registry.stop()
    except Exception:  # an object gone meanwhile
        pass


def press():
    button, status_text = presses[len(expected) % len(presses)]
    expected.append((status_text, time.monotonic()))
    action = button.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    action.doAction(names.index("Press") if "Press" in names else 0)
    return True  # again, until stopped


def give_up():
    pyatspi.Registry.stop()
    return False


pyatspi.Registry.registerEventListener(on_event, STATUS_EVENT)
GLib.timeout_add(500, lambda: press() and False)
GLib.timeout_add_seconds(4, press)
GLib.timeout_add_seconds(WAIT, give_up)
pyatspi.Registry.start()
if not heard:
    fail([f"{len(expected)} presses of \"Clear all fields\" and \"Copy answer to X\" raised no {STATUS_EVENT} "
          f"with the new status within {WAIT} s (the status field's description is now \"{status[0].description}\")"])
print(f"accessibility tree: {STATUS_EVENT} \"{heard[0][0]}\" heard {heard[0][1]:.2f} s after the press "
      f"({len(expected)} presses)")
