#!/usr/bin/python3
# Reads a program's windows as a screen reader does, through the accessibility bus (AT-SPI).
#   atspi_client.py ready            exits 0 once the registry answers
#   atspi_client.py APP [press]      prints APP's tree, one line per object, "depth role|name|text|focused"
#                                    (and "|description" where it has one),
#                                    waiting up to 10 s for APP to show a window; "press" then
#                                    presses its first push button through its first action
# Exits 1 (with a line saying why) when APP is not found in time.
import sys
import time

import pyatspi


def application(name):
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.name == name and app.childCount > 0:
            return app
    return None


def walk(accessible, depth, out):
    text = ""
    try:
        t = accessible.queryText()
        text = t.getText(0, t.characterCount)
    except NotImplementedError:
        pass
    focused = accessible.getState().contains(pyatspi.STATE_FOCUSED)
    # One name for a push button, which newer releases of the bus call "button".
    role = "push button" if accessible.getRole() == pyatspi.ROLE_PUSH_BUTTON else accessible.getRoleName()
    out.append((depth, role, accessible.name or "", text, focused, accessible.description or "", accessible))
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is not None:
            walk(child, depth + 1, out)


def main():
    if sys.argv[1] == "ready":
        pyatspi.Registry.getDesktop(0).childCount
        return 0
    deadline = time.monotonic() + 10
    app = application(sys.argv[1])
    while app is None and time.monotonic() < deadline:
        time.sleep(0.05)
        app = application(sys.argv[1])
    if app is None:
        print("no application " + sys.argv[1] + " on the accessibility bus")
        return 1
    tree = []
    walk(app, 0, tree)
    for depth, role, name, text, focused, description, _ in tree:
        line = "%d %s|%s|%s|%s" % (depth, role, name, text.replace("\n", "\\n"), "focused" if focused else "")
        print(line + ("|" + description if description else ""))
    if len(sys.argv) > 2 and sys.argv[2] == "press":
        buttons = [a for _, role, _, _, _, _, a in tree if role == "push button"]
        if not buttons:
            print("no push button to press")
            return 1
        buttons[0].queryAction().doAction(0)
        print("pressed")
    sys.stdout.flush()
    return 0


sys.exit(main())
