"""A throw-away X desktop with a tray (Xvfb, openbox, trayer) and the agent driven on it.

Everything started here stays a child of this process: the machine's process 1 does not reap
orphans, so this process makes itself the subreaper and waits for every descendant at the end.
"""

import atexit
import contextlib
import ctypes
import ctypes.util
import os
import random
import signal
import subprocess
import time

PR_SET_CHILD_SUBREAPER = 36
_libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
_libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)

AGENT_TITLE = "Zurodid Agent"
FAKETIME_FORMAT = "%Y-%m-%d %H:%M:%S"


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


class Desktop:
    """Xvfb + openbox + trayer on a free display, with helpers to look at and drive it."""

    def __init__(self, workdir, width=1024, height=768):
        self.workdir = workdir
        self.size = (width, height)
        self.processes = []
        self.display = None
        self.runtime_dir = os.path.join(workdir, "runtime")
        os.makedirs(self.runtime_dir, mode=0o700, exist_ok=True)
        self.xlib = _Xlib()

    # -- life cycle -------------------------------------------------------------------------

    def start(self):
        _live_desktops.add(self)
        self.display = self._start_xvfb()
        # The panel first: openbox takes in the windows it finds when it starts, whereas a
        # panel mapped while openbox is still starting has been seen to stay unmanaged.
        self._start_until_ready(
            ["trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height",
             "32", "--SetDockType", "true", "--transparent", "false", "--tint", "0xcccccc",
             "--expand", "true"],
            lambda: self.xlib.selection_owner(self.display, "_NET_SYSTEM_TRAY_S0")
            and self._trayer_panels(), "trayer's panel")
        self._start_until_ready(["openbox"], self._panel_is_managed, "openbox")
        return self

    def _start_until_ready(self, argv, ready, what, patience=10.0, attempts=3):
        """Starts a desktop program and waits until it is ready; starts it again when it
        ended or did not get ready in time."""
        for _ in range(attempts):
            process = self._spawn(argv, env=self.env())
            with contextlib.suppress(DesktopError):
                poll(lambda: ready() or process.poll() is not None, patience, what)
            if process.poll() is None and ready():
                return
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
            xvfb = self._spawn(["Xvfb", f":{number}", "-displayfd", str(write_end), "-screen",
                                "0", f"{width}x{height}x24", "-nolisten", "tcp"],
                               pass_fds=(write_end,), env=os.environ.copy())
            os.close(write_end)
            with os.fdopen(read_end, "rb") as pipe:
                ready = pipe.readline().strip() == str(number).encode()
            if ready:
                return f":{number}"
            _end_group(xvfb)
            self.processes.remove(xvfb)
        raise DesktopError("Xvfb found no free display")

    def env(self, **extra):
        env = {key: value for key, value in os.environ.items()
               if not key.startswith(("DBUS_", "FAKETIME", "LD_PRELOAD", "QT_", "WAYLAND"))}
        # No D-Bus session: Qt then uses the XEmbed tray that trayer hosts.
        env.update(DISPLAY=self.display, QT_QPA_PLATFORM="xcb",
                   XDG_RUNTIME_DIR=self.runtime_dir, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        env.update(extra)
        return env

    def _spawn(self, argv, **kwargs):
        """Starts a process in its own group, its output logged in the work folder."""
        log_path = os.path.join(self.workdir, os.path.basename(argv[0]) + ".log")
        with open(log_path, "ab") as log:
            kwargs.setdefault("stdout", log)
            kwargs.setdefault("stderr", log)
            process = subprocess.Popen(argv, start_new_session=True, **kwargs)
        _tracked.add(process.pid)
        self.processes.append(process)
        return process

    def stop(self):
        """Ends every process started here (newest first) and reaps all descendants."""
        for process in reversed(self.processes):
            _end_group(process)
        self.processes.clear()
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

    def _run(self, argv, check=True, timeout=10):
        result = subprocess.run(argv, env=self.env(), capture_output=True, text=True,
                                timeout=timeout)
        if check and result.returncode != 0:
            raise DesktopError(f"{argv[0]} failed: {result.stderr.strip()}")
        return result.stdout

    def windows(self, title):
        """Ids of the mapped windows whose title is exactly title."""
        pattern = "^" + "".join("\\" + c if c in ".^$*+?()[]{}|\\" else c for c in title) + "$"
        out = self._run(["xdotool", "search", "--onlyvisible", "--name", pattern], check=False)
        return [int(line) for line in out.split()]

    def window_type(self, window):
        out = self._run(["xprop", "-id", str(window), "_NET_WM_WINDOW_TYPE"], check=False)
        return out.split("=")[-1].strip().replace("_NET_WM_WINDOW_TYPE_", "")

    def _window_info(self, window):
        out = self._run(["xwininfo", "-id", str(window)])
        values = {}
        for line in out.splitlines():
            key, _, value = line.strip().partition(":")
            values[key] = value.strip()
        return values

    def _parent_is_root(self, window):
        out = self._run(["xwininfo", "-children", "-id", str(window)], check=False)
        return any(line.strip().startswith("Parent window id:") and "(the root window)" in line
                   for line in out.splitlines())

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        values = self._window_info(window)
        return (int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"]),
                int(values["Width"]), int(values["Height"]))

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

    def tray_icons(self):
        """The windows embedded in trayer's panel, left to right, as (x, y, width, height)."""
        icons = []
        for panel in self._trayer_panels():
            out = self._run(["xwininfo", "-children", "-id", str(panel)], check=False)
            for line in out.splitlines():
                line = line.strip()
                if line.startswith("0x"):
                    child = int(line.split()[0], 16)
                    x, y, w, h = self.geometry(child)
                    if w > 1 and h > 1:
                        icons.append((x, y, w, h))
        return sorted(icons)

    def _panel_is_managed(self):
        """The window manager has taken trayer's panel in (it sets WM_STATE on it)."""
        for panel in self._trayer_panels():
            out = self._run(["xprop", "-id", str(panel), "WM_STATE"], check=False)
            if "window state" in out:
                return True
        return False

    def _trayer_panels(self):
        out = self._run(["xdotool", "search", "--onlyvisible", "--class", "trayer"],
                        check=False)
        return [int(line) for line in out.split()]

    def wait_tray_icons(self, count, timeout=10):
        """Waits until the tray holds exactly count icons; returns them."""
        found = []

        def settled():
            found[:] = self.tray_icons()
            return len(found) == count

        poll(settled, timeout, f"{count} icon(s) in the tray")
        return found

    def screenshot(self, path, window=None):
        argv = ["import", "-window", str(window) if window else "root", path]
        self._run(argv, timeout=30)
        return path

    # -- driving ----------------------------------------------------------------------------

    def click(self, x, y, button=1):
        self._run(["xdotool", "mousemove", str(x), str(y), "click", str(button)])

    def click_tray_icon(self, button=1, index=0, repeat=1):
        x, y, w, h = poll(lambda: self.tray_icons(), 10, "an icon in the tray")[index]
        self._run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2), "click", "--repeat",
                   str(repeat), "--delay", "80", str(button)])

    def activate(self, window):
        self._run(["xdotool", "windowactivate", "--sync", str(window)], check=False)
        poll(lambda: self._run(["xdotool", "getactivewindow"], check=False).strip()
             == str(window), 5, f"window {window} to get the focus")

    def keys(self, *keys):
        self._run(["xdotool", "key", "--delay", "30", *keys])

    def type_text(self, text):
        self._run(["xdotool", "type", "--delay", "20", text])

    def close_window(self, window):
        """Closes a window as its close box does: the window manager asks it to close."""
        self._run(["wmctrl", "-i", "-c", hex(window)])

    def click_in(self, window, x, y, button=1):
        """Clicks at a point of the window's client area."""
        left, top, _, _ = self.geometry(window)
        self.click(left + x, top + y, button)

    def move_window(self, window, x, y):
        self._run(["xdotool", "windowmove", "--sync", str(window), str(x), str(y)], check=False)

    def wait_popup_menu(self, timeout=5):
        def menu():
            out = self._run(["xdotool", "search", "--onlyvisible", "--classname", "zurodid-agent"],
                            check=False)
            # A menu bypasses the window manager and, unlike the tray icon, sits on the root.
            return next((int(w) for w in out.split()
                         if self._window_info(int(w)).get("Override Redirect State") == "yes"
                         and self._parent_is_root(int(w))), None)

        return poll(menu, timeout, "the popup menu")

    def menu_choose(self, items_down):
        """After the tray menu opened: go down to the item and choose it."""
        self.keys(*(["Down"] * items_down), "Return")

    # -- pixels -----------------------------------------------------------------------------

    def window_rgb(self, window):
        """The window's pixels as (rgb bytes, width, height)."""
        _, _, width, height = self.geometry(window)
        out = subprocess.run(["import", "-window", str(window), "-depth", "8", "rgb:-"],
                             env=self.env(), capture_output=True, timeout=30, check=True).stdout
        return out, width, height

    def dark_pixels(self, window):
        """How many pixels of the window are dark: a measure of how much text it shows."""
        rgb, _, _ = self.window_rgb(window)
        return sum(1 for i in range(0, len(rgb) - 2, 3) if rgb[i] + rgb[i + 1] + rgb[i + 2] < 300)

    def icon_colours(self, window):
        """(reddish, bluish) pixel counts of a window: a message box's critical icon is red,
        its information icon blue, and the rest of the box grey."""
        rgb, _, _ = self.window_rgb(window)
        red = blue = 0
        for i in range(0, len(rgb) - 2, 3):
            r, g, b = rgb[i], rgb[i + 1], rgb[i + 2]
            if r > 150 and g < 90 and b < 90:
                red += 1
            elif b > 150 and r < 90 and g < 150:
                blue += 1
        return red, blue


_tracked = set()
_live_desktops = set()


@atexit.register
def _stop_forgotten_desktops():
    for screen in list(_live_desktops):
        screen.stop()


def _end_group(process, grace=3.0):
    if process.poll() is None:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(process.pid, signal.SIGTERM)
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
    """Ends and waits for the descendants that ended up with us (we are their subreaper);
    the processes a Popen still owns are left to it."""
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


def live_descendants():
    """Pids of the live processes whose parent is this one (orphans come to us)."""
    return _children()


