#!/usr/bin/python3
"""What the desktop's accessibility tree (AT-SPI) says, for the desktop harness.

  accessible.py menu-item CAPTION SECONDS   prints "x y width height" of the shown menu item
                                            CAPTION once a menu shows it; exit 1 if none does
  accessible.py texts TITLE                 prints the texts of the window TITLE, one a line
  accessible.py button TITLE CAPTION        prints "x y width height" of the push button
                                            CAPTION in a shown window TITLE; exit 1 if none
  accessible.py press TITLE CAPTION         the same, and presses it through its action
                                            (where no pointer can be aimed: Wayland)
  accessible.py size TITLE                  prints "width height" of the shown window TITLE

Run by the harness as a child on the desktop's own D-Bus session (the AT-SPI library binds to
one bus per process). It needs Debian's python3-gi and gir1.2-atspi-2.0. A menu item is found
from the events that menus send when their items show (a panel's menu, drawn by another
process, may be reachable no other way), and by walking the programs' trees.
"""

import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

MENU_ITEM_ROLES = {"menu item", "check menu item", "radio menu item"}


def _showing(accessible):
    try:
        return accessible.get_state_set().contains(Atspi.StateType.SHOWING)
    except GLib.Error:
        return False


def _extents(accessible):
    box = accessible.get_extents(Atspi.CoordType.SCREEN)
    return box.x, box.y, box.width, box.height


def _descendants(accessible, depth):
    if depth < 0:
        return
    try:
        count = accessible.get_child_count()
    except GLib.Error:
        return
    for index in range(count):
        try:
            child = accessible.get_child_at_index(index)
        except GLib.Error:
            continue
        if child is not None:
            yield child
            yield from _descendants(child, depth - 1)


def _matching_item(accessible, caption):
    try:
        if (accessible.get_role_name() in MENU_ITEM_ROLES and accessible.get_name() == caption
                and _showing(accessible)):
            box = _extents(accessible)
            if box[2] > 0 and box[3] > 0:
                return box
    except GLib.Error:
        pass
    return None


def menu_item(caption, seconds):
    found = []

    def on_event(event):
        if found or event.source is None:
            return
        # GTK's items say that they show; Qt's popup menu says it for itself.
        candidates = [event.source]
        try:
            if event.source.get_role_name() in ("menu", "popup menu"):
                candidates += list(_descendants(event.source, 1))
        except GLib.Error:
            pass
        for accessible in candidates:
            box = _matching_item(accessible, caption)
            if box:
                found.append(box)
                return

    listener = Atspi.EventListener.new(on_event)
    listener.register("object:state-changed:showing")
    print("ready", flush=True)
    context = GLib.MainContext.default()
    deadline = time.monotonic() + seconds
    next_walk = 0.0
    while not found and time.monotonic() < deadline:
        while context.iteration(False):
            pass
        if time.monotonic() >= next_walk:
            # Menus of programs whose items send no such event: walk the shown trees.
            desktop = Atspi.get_desktop(0)
            for application in _descendants(desktop, 0):
                for accessible in _descendants(application, 4):
                    box = _matching_item(accessible, caption)
                    if box:
                        found.append(box)
                        break
            next_walk = time.monotonic() + 0.2
        time.sleep(0.01)
    if not found:
        return 1
    print(*found[0])
    return 0


def texts(title):
    desktop = Atspi.get_desktop(0)
    for application in _descendants(desktop, 0):
        for window in _descendants(application, 0):
            if window.get_name() == title and _showing(window):
                for accessible in _descendants(window, 12):
                    name = accessible.get_name()
                    if name:
                        print(name.replace("\n", " "))
                return 0
    return 1


def button(title, caption, press=False):
    desktop = Atspi.get_desktop(0)
    for application in _descendants(desktop, 0):
        for window in _descendants(application, 0):
            if window.get_name() != title or not _showing(window):
                continue
            for accessible in _descendants(window, 6):
                try:
                    if (accessible.get_role_name() == "push button"
                            and accessible.get_name() == caption and _showing(accessible)):
                        print(*_extents(accessible))
                        if press:
                            accessible.do_action(0)
                        return 0
                except GLib.Error:
                    continue
    return 1


def size(title):
    for application in _descendants(Atspi.get_desktop(0), 0):
        for window in _descendants(application, 0):
            if window.get_name() == title and _showing(window):
                print(*_extents(window)[2:])
                return 0
    return 1


def main(argv):
    if len(argv) == 3 and argv[0] == "menu-item":
        return menu_item(argv[1], float(argv[2]))
    if len(argv) == 3 and argv[0] == "button":
        return button(argv[1], argv[2])
    if len(argv) == 2 and argv[0] == "size":
        return size(argv[1])
    if len(argv) == 3 and argv[0] == "press":
        return button(argv[1], argv[2], press=True)
    if len(argv) == 2 and argv[0] == "texts":
        return texts(argv[1])
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
