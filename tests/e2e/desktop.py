"""A throw-away X desktop with a notification area, and the agent driven on it as a user does.

A desktop is Xvfb, its own D-Bus session, a panel and openbox. The panel is one of
  "trayer"  an XEmbed tray (Qt embeds an icon window in it),
  "xfce"    xfce4-panel with only its systray plugin, which hosts StatusNotifierItems over
            D-Bus (Qt then exports the icon's menu over DBusMenu) and XEmbed icons alike.

Public interface (kept stable for tests, scripts/ and bench/):
  poll(condition, timeout, what)              first true value of condition(), else DesktopError
  Desktop(workdir, tray="trayer", start_panel=True, accessibility=True, wm="openbox")
                                              a context manager; accessibility=False for
                                              measurements: Qt programs then keep their
                                              accessibility off; wm one of WINDOW_MANAGERS,
                                              or None for a desktop that brings its own
    .start() / .stop()                        bring up / end everything, reaping all descendants
    .start_panel() / .stop_panel()            a panel that starts late, is killed, restarts
    .env(**extra)                             the environment of a program on this desktop
    .spawn(argv, **popen_args)                start a program on it (logged in workdir)
    .wait_killed(process, timeout=10)         after a kill of a spawned program: waits for it
                                              and for the orphans its group left, lets them
                                              finish, forgets the program; returns how many
    .run(argv)                                run a command on it, return its output
    .windows(title) / .wait_window(title, kind=) / .wait_no_window(title)
    .stays_absent(condition, seconds, what)   condition stays false for the whole interval
    .window_type(w) / .window_role(w) / .geometry(w) / .frame(w) / .window_texts(title)
    .net_wm_state(w) / .is_urgent(w) / .active_window()   what the window manager is told
    .stacking_order()                         the managed windows, bottom to top
    .tray_icons() / .wait_tray_icons(count)   the icons in the panel as (x, y, width, height)
    .click(x, y) / .click_in(w, x, y) / .click_tray_icon(button=, repeat=)
    .click_button(title, caption)             clicks the push button that shows caption in a
                                              window titled title (found in the accessibility
                                              tree)
    .choose_menu_item(caption, open_menu=None)   right click on the icon (or open_menu()),
                                              then click the item by its caption
    .wait_popup_menu()                        the agent's own popup menu window (XEmbed trays)
    .activate(w) / .keys(...) / .type_text(t) / .close_window(w) / .move_window(w, x, y)
    .screenshot(path, window=None, crop=None)
  become_subreaper(), live_descendants(), reap_orphans()   processes left behind
  group_of(pid)                               the process group of pid, None once it is gone

Everything started here stays a child of this process: the machine's process 1 does not reap
orphans, so a started desktop makes this process the subreaper of its descendants (not the
import: importing this module changes nothing) and waits for every descendant at the end.
"""

import atexit
import contextlib
import ctypes
import ctypes.util
import os
import random
import signal
import subprocess
import sys
import time

AGENT_TITLE = "Zurodid Agent"
FAKETIME_FORMAT = "%Y-%m-%d %H:%M:%S"
TRAYS = ("trayer", "xfce")
# openbox, or XFCE's own window manager (which honours focus and stacking requests its own way).
WINDOW_MANAGERS = ("openbox", "xfwm4")
HERE = os.path.dirname(os.path.abspath(__file__))
# The accessibility helper needs Debian's python3 with its gi bindings.
SYSTEM_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable

_subreaper = False


def become_subreaper():
    """Makes this process the one that orphaned descendants come to (PR_SET_CHILD_SUBREAPER),
    so that reap_orphans() can end them. Starting a desktop does it."""
    global _subreaper
    if not _subreaper:
        libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        libc.prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
        _subreaper = True


class DesktopError(RuntimeError):
    pass


def poll(condition, timeout, what, interval=0.02):
    """Returns the first true value of condition() within timeout seconds, else raises. A
    window that vanishes while condition() looks at it counts as "not yet"."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except DesktopError:
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise DesktopError(f"timed out after {timeout} s waiting for {what}")
        time.sleep(interval)


class _Xlib:
    """The few Xlib calls that no command-line tool offers: the owner of a selection."""

    def __init__(self):
        name = ctypes.util.find_library("X11") or "libX11.so.6"
        self.lib = ctypes.CDLL(name)
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.lib.XInternAtom.restype = ctypes.c_ulong
        self.lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.lib.XGetSelectionOwner.restype = ctypes.c_ulong
        self.lib.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.lib.XCloseDisplay.argtypes = [ctypes.c_void_p]

    def selection_owner(self, display, selection):
        handle = self.lib.XOpenDisplay(display.encode())
        if not handle:
            return 0
        try:
            atom = self.lib.XInternAtom(handle, selection.encode(), 0)
            return self.lib.XGetSelectionOwner(handle, atom)
        finally:
            self.lib.XCloseDisplay(handle)


XFCE_PANEL_LAYOUT = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="1"/>
      <property name="length-adjust" type="bool" value="true"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
"""

WATCHER = "org.kde.StatusNotifierWatcher"


class Desktop:
    """Xvfb + a D-Bus session + a panel + openbox on a free display, looked at and driven."""

    def __init__(self, workdir, width=1024, height=768, tray="trayer", start_panel=True,
                 accessibility=True, wm="openbox"):
        if tray not in TRAYS:
            raise ValueError(f"tray must be one of {TRAYS}")
        if wm is not None and wm not in WINDOW_MANAGERS:
            raise ValueError(f"wm must be one of {WINDOW_MANAGERS} or None")
        self.wm = wm
        self.workdir = workdir
        self.size = (width, height)
        self.tray = tray
        self.start_with_panel = start_panel
        self.accessibility = accessibility
        self.processes = []
        self.panel = None
        self.display = None
        self.bus_address = None
        self.runtime_dir = os.path.join(workdir, "runtime")
        os.makedirs(self.runtime_dir, mode=0o700, exist_ok=True)
        self.xlib = _Xlib()

    # -- life cycle -------------------------------------------------------------------------

    def start(self):
        become_subreaper()
        _live_desktops.add(self)
        self.display = self._start_xvfb()
        self.bus_address = self._start_bus()
        # The panel first: openbox takes in the windows it finds when it starts, whereas a
        # panel mapped while openbox is still starting has been seen to stay unmanaged.
        if self.start_with_panel:
            self.start_panel()
        if self.wm is None:
            return self
        argv = ["openbox"] if self.wm == "openbox" else ["xfwm4", "--compositor=off",
                                                         "--sm-client-disable"]
        self._start_until_ready(
            argv, self._panel_is_managed if self.panel else self._window_manager_runs, self.wm)
        return self

    def start_panel(self):
        """Starts the panel (at any time: a late panel, or one started again)."""
        if self.tray == "trayer":
            argv = ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                    "--height", "32", "--SetDockType", "true", "--transparent", "false",
                    "--tint", "0xcccccc", "--expand", "true"]
            ready = lambda: self._xembed_tray_owned() and self._panel_windows()  # noqa: E731
        else:
            layout = os.path.join(self.workdir, "config", "xfce4", "xfconf",
                                  "xfce-perchannel-xml", "xfce4-panel.xml")
            os.makedirs(os.path.dirname(layout), exist_ok=True)
            with open(layout, "w") as out:
                out.write(XFCE_PANEL_LAYOUT)
            argv = ["xfce4-panel"]
            ready = lambda: (self._xembed_tray_owned() and self._sni_host_runs()  # noqa: E731
                             and self._panel_windows())
        self.panel = self._start_until_ready(argv, ready, self.tray, patience=20.0)
        if self._window_manager_runs():
            poll(self._panel_is_managed, 10, "the window manager to take the panel in")

    def stop_panel(self):
        """Kills the panel, as a crash does; waits until its tray is gone."""
        if self.panel is not None:
            _end_group(self.panel, signal.SIGKILL)
            self.processes.remove(self.panel)
            self.panel = None
            poll(lambda: not self._xembed_tray_owned() and not self._sni_host_runs(), 10,
                 "the tray to go")

    def _start_until_ready(self, argv, ready, what, patience=10.0, attempts=3):
        """Starts a desktop program and waits until it is ready; starts it again when it
        ended or did not get ready in time."""
        for _ in range(attempts):
            process = self.spawn(argv, env=self.env())
            with contextlib.suppress(DesktopError):
                poll(lambda: ready() or process.poll() is not None, patience, what)
            if process.poll() is None and ready():
                return process
            _end_group(process)
            self.processes.remove(process)
        raise DesktopError(f"{argv[0]} would not start")

    def _start_xvfb(self, attempts=20):
        """Starts Xvfb on a free display: one with neither a lock file nor a socket (a server
        whose lock file went missing still holds its socket)."""
        width, height = self.size
        chooser = random.Random(os.getpid() ^ time.monotonic_ns())
        for _ in range(attempts):
            number = chooser.randrange(100, 1000)
            if (os.path.exists(f"/tmp/.X{number}-lock")
                    or os.path.exists(f"/tmp/.X11-unix/X{number}")):
                continue
            read_end, write_end = os.pipe()
            xvfb = self.spawn(["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen",
                               "0", f"{width}x{height}x24", "-nolisten", "tcp",
                               # No reset when the last client leaves: a program that
                               # connects during a reset is refused ("Cannot open display").
                               "-noreset"],
                              pass_fds=(write_end,), env=os.environ.copy())
            os.close(write_end)
            with os.fdopen(read_end, "rb") as pipe:
                ready = pipe.readline().strip() == str(number).encode()
            if ready:
                return f":{number}"
            _end_group(xvfb)
            self.processes.remove(xvfb)
        raise DesktopError("Xvfb found no free display")

    def _start_bus(self):
        """A D-Bus session of this desktop's own, so that no test sees another's tray."""
        read_end, write_end = os.pipe()
        self.spawn(["dbus-daemon", "--session", "--nofork", f"--print-address={write_end}"],
                   pass_fds=(write_end,), env=self.env(DBUS_SESSION_BUS_ADDRESS=""))
        os.close(write_end)
        with os.fdopen(read_end, "rb") as pipe:
            address = pipe.readline().decode().strip()
        if not address:
            raise DesktopError("dbus-daemon gave no address")
        return address

    def env(self, **extra):
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("DBUS_", "FAKETIME", "LD_PRELOAD", "QT_", "WAYLAND",
                                      "XDG_", "SESSION_MANAGER"))}
        home = lambda name: os.path.join(self.workdir, name)  # noqa: E731
        env.update(DISPLAY=self.display or "", QT_QPA_PLATFORM="xcb",
                   XDG_RUNTIME_DIR=self.runtime_dir, XDG_CONFIG_HOME=home("config"),
                   XDG_DATA_HOME=home("data"), XDG_CACHE_HOME=home("cache"),
                   LANG="C.UTF-8", LC_ALL="C.UTF-8")
        if self.accessibility:
            # Qt programs show their widgets to the accessibility tree (AT-SPI), as they do
            # for a screen reader: menu items are found by their text there.
            env["QT_LINUX_ACCESSIBILITY_ALWAYS_ON"] = "1"
        if self.bus_address:
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        env.update(extra)
        return env

    def spawn(self, argv, **kwargs):
        """Starts a process in its own group, its output logged in the work folder."""
        log_path = os.path.join(self.workdir, os.path.basename(argv[0]) + ".log")
        with open(log_path, "ab") as log:
            kwargs.setdefault("stdout", log)
            kwargs.setdefault("stderr", log)
            process = subprocess.Popen(argv, start_new_session=True, **kwargs)
        _tracked.add(process.pid)
        self.processes.append(process)
        return process

    def wait_killed(self, process, timeout=10.0):
        """Waits for a spawned program that was killed, then for the processes of its group
        that came to us as orphans (a child it had started, finishing a step of its own: they
        are let end by themselves, not killed). Returns how many orphans there were; raises
        when they are still running after timeout seconds, once they are killed and reaped.
        The program is then forgotten, so that stop() never signals a group number that the
        system may have given to another process since."""
        process.wait(timeout)
        group = process.pid
        waited = set()
        deadline = time.monotonic() + timeout
        while True:
            orphans = [pid for pid in _children(include_zombies=True)
                       if group_of(pid) == group]
            for pid in orphans:
                with contextlib.suppress(ChildProcessError):
                    if os.waitpid(pid, os.WNOHANG)[0] == pid:
                        waited.add(pid)
            running = [pid for pid in orphans if pid not in waited]
            # Done when a look finds none: one just reaped may have left children of its own.
            if not orphans or (running and time.monotonic() > deadline):
                break
            time.sleep(0.002)
        for pid in running:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
            with contextlib.suppress(ChildProcessError):
                os.waitpid(pid, 0)
        if process in self.processes:
            self.processes.remove(process)
        _tracked.discard(process.pid)
        if running:
            raise DesktopError(f"processes {running} left by {process.args[0]} still ran "
                               f"after {timeout} s")
        return len(waited)

    def stop(self):
        """Ends every process started here (newest first) and reaps all descendants."""
        for process in reversed(self.processes):
            _end_group(process)
        self.processes.clear()
        self.panel = None
        _live_desktops.discard(self)
        reap_orphans()

    def __enter__(self):
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()

    # -- looking ----------------------------------------------------------------------------

    def run(self, argv, check=True, timeout=10):
        result = subprocess.run(argv, env=self.env(), capture_output=True, text=True,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise DesktopError(f"{argv[0]} failed: {result.stderr.strip()}")
        return result.stdout

    def windows(self, title):
        """Ids of the mapped windows whose title is exactly title."""
        pattern = "^" + "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in title) + "$"
        out = self.run(["xdotool", "search", "--onlyvisible", "--name", pattern], check=False)
        return [int(line) for line in out.split()]

    def window_type(self, window):
        out = self.run(["xprop", "-id", str(window), "_NET_WM_WINDOW_TYPE"], check=False)
        return out.split("=")[-1].strip().replace("_NET_WM_WINDOW_TYPE_", "")

    def window_role(self, window):
        """The window's WM_WINDOW_ROLE, "" when it has none."""
        out = self.run(["xprop", "-id", str(window), "WM_WINDOW_ROLE"], check=False)
        value = out.partition("=")[2].strip()
        return value[1:-1] if value.startswith('"') else ""

    def window_texts(self, title):
        """The texts that the window titled title shows to the accessibility tree (labels,
        list rows' cells), in its order; a screen reader reads the same."""
        result = subprocess.run([SYSTEM_PYTHON, os.path.join(HERE, "accessible.py"), "texts",
                                 title], env=self.env(), capture_output=True, text=True,
                                timeout=30)
        if result.returncode != 0:
            raise DesktopError(f"no window titled {title!r} in the accessibility tree")
        return result.stdout.splitlines()

    def net_wm_state(self, window):
        """The window's _NET_WM_STATE atoms without their prefix ("ABOVE", ...)."""
        out = self.run(["xprop", "-id", str(window), "_NET_WM_STATE"], check=False)
        value = out.partition("=")[2]
        return {atom.strip().replace("_NET_WM_STATE_", "") for atom in value.split(",")
                if atom.strip()}

    def allowed_actions(self, window):
        """What the window manager lets the person do with the window: its
        _NET_WM_ALLOWED_ACTIONS without their prefix ("CLOSE", "MINIMIZE", ...)."""
        out = self.run(["xprop", "-id", str(window), "_NET_WM_ALLOWED_ACTIONS"], check=False)
        value = out.partition("=")[2]
        return {atom.strip().replace("_NET_WM_ACTION_", "") for atom in value.split(",")
                if atom.strip()}

    def is_urgent(self, window):
        """Whether the window's WM_HINTS carry the urgency hint (ICCCM XUrgencyHint)."""
        out = self.run(["xprop", "-id", str(window), "-notype", "-f", "WM_HINTS", "32c",
                        " $0", "WM_HINTS"], check=False)
        flags = out.split()[1] if len(out.split()) > 1 else ""
        return flags.isdigit() and bool(int(flags) & 256)

    def active_window(self):
        """The window the window manager gave the focus to, 0 for none."""
        out = self.run(["xprop", "-root", "_NET_ACTIVE_WINDOW"], check=False)
        value = out.partition("#")[2].strip().split(",")[0]
        return int(value, 16) if value.startswith("0x") else 0

    def stacking_order(self):
        """The windows the window manager keeps, from the bottom to the top."""
        out = self.run(["xprop", "-root", "_NET_CLIENT_LIST_STACKING"], check=False)
        return [int(w, 16) for w in out.partition("#")[2].replace(",", " ").split()]

    def _window_info(self, window):
        out = self.run(["xwininfo", "-id", str(window)])
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return values

    def _parent_is_root(self, window):
        out = self.run(["xwininfo", "-children", "-id", str(window)], check=False)
        return any(line.strip().startswith("Parent window id:") and "(the root window)" in line
                   for line in out.splitlines())

    def outermost(self, window):
        """The window the window manager put around this one (its frame), or the window
        itself when it was not reparented."""
        while True:
            out = self.run(["xwininfo", "-children", "-id", str(window)], check=False)
            parent = [line.split(":", 1)[1].split()[0] for line in out.splitlines()
                      if line.strip().startswith("Parent window id:")]
            if not parent or "(the root window)" in out.split("Parent window id:", 1)[1]:
                return window
            window = int(parent[0], 16)

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        values = self._window_info(window)
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

    def frame_extents(self, window):
        """The window manager's frame around the window: [left, right, top, bottom], None
        when it says nothing."""
        out = self.run(["xprop", "-id", str(window), "_NET_FRAME_EXTENTS"], check=False)
        return [int(v) for v in out.partition("=")[2].split(",")] if "=" in out else None

    def frame(self, window):
        """The window with its title bar and border, as (x, y, width, height)."""
        x, y, width, height = self.geometry(window)
        extents = self.frame_extents(window)
        if extents:
            left, right, top, bottom = extents
            return x - left, y - top, width + left + right, height + top + bottom
        return x, y, width, height

    def wait_window(self, title, timeout=10, kind=None, exclude=()):
        """The one new mapped window with that title (and window type, when given)."""

        def found():
            for window in self.windows(title):
                if window in exclude:
                    continue
                if kind is None or kind in self.window_type(window):
                    return window
            return None

        return poll(found, timeout, f"a window titled {title!r}")

    def wait_no_window(self, title, timeout=10):
        poll(lambda: not self.windows(title), timeout, f"no window titled {title!r}")

    def stays_absent(self, condition, seconds, what, interval=0.1):
        """Raises as soon as condition() is true within seconds; looks the whole time."""
        deadline = time.monotonic() + seconds
        while True:
            with contextlib.suppress(DesktopError):
                if condition():
                    raise DesktopError(f"{what} within {seconds} s")
            if time.monotonic() > deadline:
                return
            time.sleep(interval)

    def tray_icons(self):
        """The icons in the panel, left to right, as (x, y, width, height)."""
        if self.panel is None:
            return []
        if self.tray == "trayer":
            return self._embedded_icons(self._panel_windows())
        # The XFCE panel holds only its systray and shrinks to it: with one
        # StatusNotifierItem registered, the panel's visible part is that item's button, once
        # the panel has made it. Until then it is the empty systray's narrow strip, where a
        # click reaches no item.
        icons = self._embedded_icons(self._panel_windows())
        if len(self.status_notifier_items()) == 1 and not icons:
            panels = [self.geometry(w) for w in self._panel_windows()]
            largest = max(panels, key=lambda box: box[2] * box[3]) if panels else None
            icons = [largest] if largest and largest[2] * 4 >= largest[3] * 3 else []
        return sorted(icons)

    def _embedded_icons(self, panels):
        """The XEmbed icon windows inside the panel windows (any depth)."""
        icons = []
        for panel in panels:
            out = self.run(["xwininfo", "-tree", "-id", str(panel)], check=False)
            for line in out.splitlines():
                line = line.strip()
                if line.startswith("0x") and f'"{AGENT_TITLE}"' in line:
                    x, y, w, h = self.geometry(int(line.split()[0], 16))
                    if w > 1 and h > 1:
                        icons.append((x, y, w, h))
        return sorted(icons)

    def status_notifier_items(self):
        """The items registered with the panel's StatusNotifierWatcher."""
        out = self.run(["dbus-send", "--session", "--print-reply", f"--dest={WATCHER}",
                        "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                        f"string:{WATCHER}", "string:RegisteredStatusNotifierItems"],
                       check=False)
        return [line.strip().split('"')[1] for line in out.splitlines()
                if line.strip().startswith('string "')]

    def _sni_host_runs(self):
        out = self.run(["dbus-send", "--session", "--print-reply", f"--dest={WATCHER}",
                        "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                        f"string:{WATCHER}", "string:IsStatusNotifierHostRegistered"],
                       check=False)
        return "boolean true" in out

    def _xembed_tray_owned(self):
        return self.xlib.selection_owner(self.display, "_NET_SYSTEM_TRAY_S0")

    def _window_manager_runs(self):
        return "window id" in self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"],
                                       check=False)

    def _panel_is_managed(self):
        """The window manager has taken the panel in (it sets WM_STATE on it)."""
        for panel in self._panel_windows():
            out = self.run(["xprop", "-id", str(panel), "WM_STATE"], check=False)
            if "window state" in out:
                return True
        return False

    def _panel_windows(self):
        out = self.run(["xdotool", "search", "--onlyvisible", "--class",
                        "trayer" if self.tray == "trayer" else "xfce4-panel"], check=False)
        return [int(line) for line in out.split()]

    def wait_tray_icons(self, count, timeout=10):
        """Waits until the tray holds exactly count icons; returns them."""
        found = []

        def settled():
            found[:] = self.tray_icons()
            return len(found) == count

        poll(settled, timeout, f"{count} icon(s) in the tray")
        return found

    def screenshot(self, path, window=None, crop=None, margin=0):
        """The screen (or a window, or the box crop=(x, y, width, height)) into path."""
        argv = ["import", "-window", str(window) if window else "root"]
        if crop:
            x, y, width, height = crop
            x, y = max(0, x - margin), max(0, y - margin)
            argv += ["-crop", f"{width + 2 * margin}x{height + 2 * margin}+{x}+{y}", "+repage"]
        self.run(argv + [path], timeout=30)
        return path

    # -- driving ----------------------------------------------------------------------------

    def click(self, x, y, button=1):
        self.run(["xdotool", "mousemove", str(x), str(y), "click", str(button)])

    def click_tray_icon(self, button=1, index=0, repeat=1):
        x, y, w, h = poll(lambda: self.tray_icons(), 10, "an icon in the tray")[index]
        self.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "--repeat",
                  str(repeat), "--delay", "80", str(button)])

    def choose_menu_item(self, caption, attempts=3, open_menu=None):
        """Right-clicks the icon (or calls open_menu()) and clicks the menu item that shows
        caption, wherever the panel or the agent draws the menu: the item is found by its
        text in the accessibility tree, and clicked with the pointer."""
        for attempt in range(attempts):
            finder = subprocess.Popen(
                [SYSTEM_PYTHON, os.path.join(HERE, "accessible.py"), "menu-item", caption, "5"],
                env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
            try:
                if finder.stdout.readline().strip() != "ready":
                    raise DesktopError("the accessibility helper did not start")
                (open_menu or (lambda: self.click_tray_icon(button=3)))()
                box = finder.stdout.readline().split()
                finder.wait(10)
            finally:
                if finder.poll() is None:
                    finder.kill()
                    finder.wait()
                finder.stdout.close()
            if len(box) == 4:
                x, y, width, height = (int(value) for value in box)
                self.click(x + width // 2, y + height // 2)
                return
            # A window that the window manager focused just then may have taken the menu.
            with contextlib.suppress(DesktopError):
                self.keys("Escape")
        raise DesktopError(f"no menu item {caption!r} after {attempts} right clicks")

    def click_button(self, title, caption, timeout=5):
        def extents():
            result = subprocess.run([SYSTEM_PYTHON, os.path.join(HERE, "accessible.py"),
                                     "button", title, caption], env=self.env(),
                                    capture_output=True, text=True, timeout=30)
            box = result.stdout.split()
            return [int(value) for value in box] if len(box) == 4 else None

        x, y, width, height = poll(extents, timeout, f"a button {caption!r} in {title!r}")
        self.click(x + width // 2, y + height // 2)

    def activate(self, window):
        self.run(["xdotool", "windowactivate", "--sync", str(window)], check=False)
        poll(lambda: self.run(["xdotool", "getactivewindow"], check=False).strip()
             == str(window), 5, f"window {window} to get the focus")

    def keys(self, *keys):
        self.run(["xdotool", "key", "--delay", "30", *keys])

    def type_text(self, text):
        self.run(["xdotool", "type", "--delay", "20", text])

    def close_window(self, window):
        """Closes a window as its close box does: the window manager asks it to close."""
        self.run(["wmctrl", "-i", "-c", hex(window)])

    def click_in(self, window, x, y, button=1):
        """Clicks at a point of the window's client area."""
        left, top, _, _ = self.geometry(window)
        self.click(left + x, top + y, button)

    def move_window(self, window, x, y):
        self.run(["xdotool", "windowmove", "--sync", str(window), str(x), str(y)], check=False)

    def wait_popup_menu(self, timeout=5):
        """The agent's own popup menu window (on an XEmbed tray Qt opens it at the pointer)."""

        def menu():
            out = self.run(["xdotool", "search", "--onlyvisible", "--classname",
                            "zurodid-agent"], check=False)
            # A menu bypasses the window manager and, unlike the tray icon, sits on the root.
            return next((int(w) for w in out.split()
                         if self._window_info(int(w)).get("Override Redirect State") == "yes"
                         and self._parent_is_root(int(w))), None)

        return poll(menu, timeout, "the popup menu")


_tracked = set()
_live_desktops = set()


@atexit.register
def _stop_forgotten_desktops():
    for screen in list(_live_desktops):
        screen.stop()


def _end_group(process, first_signal=signal.SIGTERM, grace=3.0):
    if process.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, first_signal)
        try:
            process.wait(grace)
        except subprocess.TimeoutExpired:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    else:
        # The leader is gone; its group may still hold children.
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGKILL)
    _tracked.discard(process.pid)


def reap_orphans(timeout=5.0):
    """Ends and waits for the descendants that ended up with us (we are their subreaper):
    also the services that a desktop's D-Bus session started, so only once it is stopped. The
    processes a Popen still owns are left to it."""
    deadline = time.monotonic() + timeout
    while True:
        strays = [pid for pid in _children(include_zombies=True) if pid not in _tracked]
        if not strays:
            return
        for pid in strays:
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)
            with contextlib.suppress(ChildProcessError):
                os.waitpid(pid, os.WNOHANG)
        if time.monotonic() > deadline:
            raise DesktopError(f"processes {strays} would not end")
        time.sleep(0.02)


def _children(include_zombies=False):
    me = str(os.getpid())
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if fields[1] == me and (include_zombies or fields[0] != "Z"):
            found.append(int(entry))
    return found


def group_of(pid):
    """The process group of pid, None once it is gone."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return int(stat.read().rsplit(")", 1)[1].split()[2])
    except (OSError, IndexError, ValueError):
        return None


def live_descendants():
    """Pids of the live processes whose parent is this one (orphans come to us)."""
    return _children()


