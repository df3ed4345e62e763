"""GNOME Shell on Wayland driven as a remote-desktop client does, over its session bus.

  gnome_remote.py windows                 the shell's windows, one JSON object a line
  gnome_remote.py type DELAY TEXT         types TEXT, DELAY seconds between keys
  gnome_remote.py keys KEYSYM...          names (Escape, Return) or numbers
  gnome_remote.py click X Y               a left click at X, Y (from the top left corner)

Mutter allows its RemoteDesktop and the shell's Introspect only to a caller that owns a name
on the shell's list: this one takes org.freedesktop.impl.portal.desktop.gnome. Needs Debian's
python3 with its gi bindings.
"""

import json
import sys
import time

from gi.repository import Gio, GLib

ALLOWED_NAME = "org.freedesktop.impl.portal.desktop.gnome"
MUTTER = "org.gnome.Mutter.RemoteDesktop"
SESSION = "org.gnome.Mutter.RemoteDesktop.Session"
NAMED = {"Return": 0xff0d, "Escape": 0xff1b, "Shift_L": 0xffe1, "space": 0x20}
TYPED = {"\n": 0xff0d, " ": 0x20}
BTN_LEFT = 0x110


class Shell:
    def __init__(self):
        self.bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        self.call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                  "RequestName", GLib.Variant("(su)", (ALLOWED_NAME, 4)))
        self.session = None

    def call(self, dest, path, interface, method, args=None, reply=None):
        return self.bus.call_sync(dest, path, interface, method, args,
                                  GLib.VariantType(reply) if reply else None, 0, 20000, None)

    def windows(self):
        found = self.call("org.gnome.Shell", "/org/gnome/Shell/Introspect",
                          "org.gnome.Shell.Introspect", "GetWindows", None, "(a{ta{sv}})")
        return [dict(properties, id=window) for window, properties in
                found.unpack()[0].items()]

    def _remote(self, method, signature, values):
        if self.session is None:
            created = self.call(MUTTER, "/org/gnome/Mutter/RemoteDesktop", MUTTER,
                                "CreateSession", None, "(o)")
            self.session = created.unpack()[0]
            self.call(MUTTER, self.session, SESSION, "Start")
            # A new session drops its first key.
            for down in (True, False):
                self.call(MUTTER, self.session, SESSION, "NotifyKeyboardKeysym",
                          GLib.Variant("(ub)", (NAMED["Shift_L"], down)))
            time.sleep(0.2)
        self.call(MUTTER, self.session, SESSION, method, GLib.Variant(signature, values))

    def key(self, keysym):
        for down in (True, False):
            self._remote("NotifyKeyboardKeysym", "(ub)", (keysym, down))

    def type(self, text, delay):
        for character in text:
            self.key(TYPED.get(character, ord(character)))
            time.sleep(delay)

    def click(self, x, y):
        # From beyond the top left corner (hot corners are off), then out to the point.
        self._remote("NotifyPointerMotionRelative", "(dd)", (-5000.0, -5000.0))
        time.sleep(0.05)
        self._remote("NotifyPointerMotionRelative", "(dd)", (float(x), float(y)))
        time.sleep(0.2)
        for down in (True, False):
            self._remote("NotifyPointerButton", "(ib)", (BTN_LEFT, down))
            time.sleep(0.05)


def main(argv):
    shell = Shell()
    if argv[0] == "windows":
        for window in shell.windows():
            print(json.dumps(window))
    elif argv[0] == "type":
        shell.type(argv[2], float(argv[1]))
    elif argv[0] == "keys":
        for name in argv[1:]:
            shell.key(NAMED.get(name) or int(name, 0))
            time.sleep(0.1)
    elif argv[0] == "click":
        shell.click(int(argv[1]), int(argv[2]))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
