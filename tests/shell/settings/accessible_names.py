#!/usr/bin/python3
"""Lists, through AT-SPI, the controls of an application's showing windows that have no name.

Usage: accessible_names.py APPLICATION_NAME WINDOW_TITLE
Prints "checked N" and one "unnamed ROLE" line per control without a name; exits 1 when the
window is not found. Run with /usr/bin/python3 (the one with python3-gi).
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

CONTROLS = {
    Atspi.Role.PUSH_BUTTON,
    Atspi.Role.CHECK_BOX,
    Atspi.Role.RADIO_BUTTON,
    Atspi.Role.COMBO_BOX,
    Atspi.Role.TEXT,
    Atspi.Role.ENTRY,
    Atspi.Role.PASSWORD_TEXT,
}


def find_window(application, title, deadline):
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is None or app.get_name() != application:
                continue
            for j in range(app.get_child_count()):
                window = app.get_child_at_index(j)
                if window is not None and window.get_name() == title:
                    return window
        time.sleep(0.2)
    return None


def walk(node, found):
    states = node.get_state_set()
    if not states.contains(Atspi.StateType.SHOWING):
        return
    if node.get_role() in CONTROLS:
        found.append(node)
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        if child is not None:
            walk(child, found)


def main():
    application, title = sys.argv[1], sys.argv[2]
    window = find_window(application, title, time.monotonic() + 60)
    if window is None:
        print("window not found")
        return 1
    found = []
    walk(window, found)
    print("checked %d" % len(found))
    for control in found:
        if not control.get_name():
            print("unnamed %s" % control.get_role_name())
    return 0


if __name__ == "__main__":
    sys.exit(main())
