#!/usr/bin/python3
# SPDX-License-Identifier: AGPL-3.0-or-later
"""Reads a running program's accessible objects from outside it, over the AT-SPI bus, as a
screen reader does.

  accessible_tree.py tree PID              every object of the program's windows, one JSON
                                           object per line
  accessible_tree.py events PID SECONDS    name and value changes the program reports in that
                                           time, or until a second after the status line
                                           says "Done.", one JSON object per line
  accessible_tree.py act PID ROLE NAME ACTION
                                           performs ACTION on the first object with that role
                                           and name; prints "done" or "missing"
"""
import json
import sys
import time

import pyatspi
from gi.repository import GLib


def application(pid, timeout=15.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except GLib.GError:
                continue
        time.sleep(0.2)
    return None


def value_of(node):
    try:
        value = node.queryValue()
    except NotImplementedError:
        return None
    return {"current": value.currentValue, "minimum": value.minimumValue,
            "maximum": value.maximumValue}


def actions_of(node):
    try:
        action = node.queryAction()
    except NotImplementedError:
        return []
    return [action.getName(index) for index in range(action.nActions)]


def labelled_by(node):
    names = []
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            for index in range(relation.getNTargets()):
                names.append(relation.getTarget(index).name)
    return names


def describe(node, path):
    states = node.getState()
    return {
        "path": path,
        "role": node.getRoleName(),
        "name": node.name,
        "description": node.description,
        "value": value_of(node),
        "actions": actions_of(node),
        "labelledBy": labelled_by(node),
        "parent": node.parent.name if node.parent is not None else "",
        "parentRole": node.parent.getRoleName() if node.parent is not None else "",
        "focusable": states.contains(pyatspi.STATE_FOCUSABLE),
        "focused": states.contains(pyatspi.STATE_FOCUSED),
        "enabled": states.contains(pyatspi.STATE_ENABLED),
        "checked": states.contains(pyatspi.STATE_CHECKED),
        "showing": states.contains(pyatspi.STATE_SHOWING),
    }


def walk(node, path, out):
    # An object can go away while it is read (a window closing, a list refilled): what is left
    # of it is skipped, the rest of the tree is still read.
    try:
        out.append(describe(node, path))
        children = [node.getChildAtIndex(index) for index in range(node.childCount)]
    except (GLib.GError, LookupError, NotImplementedError):
        return
    for index, child in enumerate(children):
        if child is not None:
            walk(child, path + [index], out)


def tree(pid):
    app = application(pid)
    if app is None:
        return 1
    nodes = []
    for index in range(app.childCount):
        walk(app.getChildAtIndex(index), [index], nodes)
    for node in nodes:
        print(json.dumps(node))
    return 0


def events(pid, seconds):
    if application(pid) is None:
        return 1

    def heard(event):
        try:
            if event.host_application.get_process_id() != pid:
                return
            source = event.source
            role = source.getRoleName()
            print(json.dumps({"type": event.type, "role": role,
                              "name": source.name, "value": value_of(source),
                              "description": source.description}), flush=True)
            # The end of a run: what follows it (the bar back at 0) comes right after.
            if role == "status bar" and (source.name or "").startswith("Done."):
                GLib.timeout_add(1000, pyatspi.Registry.stop)
        except GLib.GError:
            pass

    kinds = ["object:property-change:accessible-name",
             "object:property-change:accessible-value",
             "object:property-change:accessible-description"]
    pyatspi.Registry.registerEventListener(heard, *kinds)
    GLib.timeout_add(int(seconds * 1000), pyatspi.Registry.stop)
    print(json.dumps({"type": "listening"}), flush=True)
    pyatspi.Registry.start()
    return 0


def act(pid, role, name, action_name):
    app = application(pid)
    if app is None:
        return 1
    def matches(node):
        try:
            return node.getRoleName() == role and node.name == name
        except GLib.GError:
            return False

    found = pyatspi.findDescendant(app, matches)
    if found is None:
        print("missing")
        return 0
    action = found.queryAction()
    for index in range(action.nActions):
        if action.getName(index) == action_name:
            action.doAction(index)
            print("done")
            return 0
    print("missing")
    return 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "tree":
        return tree(int(argv[2]))
    if len(argv) >= 4 and argv[1] == "events":
        return events(int(argv[2]), float(argv[3]))
    if len(argv) >= 6 and argv[1] == "act":
        return act(int(argv[2]), argv[3], argv[4], argv[5])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
