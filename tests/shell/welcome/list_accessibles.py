#!/usr/bin/python3
# Prints what a screen reader finds in the application named by the first argument, through
# AT-SPI: one line per visible object, "role<TAB>name<TAB>names of the labels it is labelled by".
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# Deeper than any window of ours; stops a cycle in a broken tree.
MAX_DEPTH = 40
# The application registers with the accessibility bus shortly after its first window shows; a
# loaded machine running sanitizers may take seconds.
WAIT_SECONDS = 30


def find_application(name):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(index)
        if application is not None and application.get_name() == name:
            return application
    return None


def labels_of(node):
    names = []
    for relation in node.get_relation_set() or []:
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            for index in range(relation.get_n_targets()):
                names.append(relation.get_target(index).get_name())
    return names


def walk(node, depth):
    if depth > MAX_DEPTH:
        return
    if node.get_state_set().contains(Atspi.StateType.SHOWING) or depth <= 1:
        print(f"{node.get_role_name()}\t{node.get_name()}\t{'|'.join(labels_of(node))}")
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            walk(child, depth + 1)


deadline = time.monotonic() + WAIT_SECONDS
application = find_application(sys.argv[1])
while application is None and time.monotonic() < deadline:
    time.sleep(0.2)
    application = find_application(sys.argv[1])
if application is None:
    desktop = Atspi.get_desktop(0)
    names = [desktop.get_child_at_index(i).get_name() for i in range(desktop.get_child_count())]
    sys.exit(f"no application named {sys.argv[1]} on the accessibility bus, only {names}")
walk(application, 0)
