"""Installed beside a diary in a wine prefix, the agent starts as a log-in would start it.

A throw-away home on a real X desktop with a tray (trayer, and the XFCE panel; the argument
names the class to run): scripts/install finds the diary, the
autostart entry is run by GLib's launcher (gio launch, the reading GNOME and XFCE sessions give
it), and the agent comes up in the diary's folder with its icon and its list window. A second
install ends that agent by process id and starts the new one, changing no file; --remove ends
it and leaves the home as it was. The diary's bytes never change."""

import contextlib
import os
import shutil
import subprocess
import tempfile
import threading
import unittest

import desktop
import installtest
from desktop import AGENT_TITLE
from installtest import Home, file_hash, validate_entry, without


def agent_processes(executable):
    """Ids of the live agents running that executable (also once it was replaced); the
    diary reader each agent makes runs it too, and is left out."""
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        with contextlib.suppress(OSError):
            target = os.readlink(f"/proc/{entry}/exe")
            if target in (executable, executable + " (deleted)"):
                with open(f"/proc/{entry}/stat", encoding="utf-8", errors="replace") as stat:
                    found[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
    return [pid for pid, parent in found.items() if parent not in found]


class ZombieCollector:
    """Collects the agents that end as our orphans (this process is the desktop's subreaper),
    as a session manager would: an uncollected one looks alive to the next agent's lock."""

    def __init__(self):
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)

    def _run(self):
        while not self.stop.wait(0.01):
            for entry in os.listdir("/proc"):
                with contextlib.suppress(OSError, ValueError):
                    with open(f"/proc/{entry}/stat") as stat:
                        name, rest = stat.read().rsplit(")", 1)
                    state, parent = rest.split()[:2]
                    if (name.endswith("(zurodid-agent") and state == "Z"
                            and int(parent) == os.getpid()):
                        os.waitpid(int(entry), os.WNOHANG)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        self.thread.join()


class InstalledAgentStartsAtLogIn(unittest.TestCase):
    tray = "trayer"  # the panel that hosts the icon (desktop.TRAYS)

    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)
        self.work = tempfile.mkdtemp(prefix="zurodid-install-desktop-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.folder = self.home.diary_folder()
        self.agent = os.path.join(self.folder, "zurodid-agent")
        self.diary = os.path.join(self.folder, "Zurodid.mdb")
        with open(os.path.join(self.folder, "Zurodid.ini"), "wb") as settings:
            settings.write(installtest.settings_text(startup_remind=1))
        self.screen = desktop.Desktop(self.work, tray=self.tray)
        self.addCleanup(self._stop_desktop)
        self.screen.start()

    def _stop_desktop(self):
        artifacts = os.environ.get("ZURODID_E2E_ARTIFACTS")
        if artifacts and self.screen.display:
            kept = os.path.join(artifacts, f"install.{self.tray}.{self._testMethodName}")
            os.makedirs(kept, exist_ok=True)
            with contextlib.suppress(desktop.DesktopError, OSError, subprocess.SubprocessError):
                self.screen.screenshot(os.path.join(kept, "screen.png"))
        self.screen.stop()
        self.assertEqual(desktop.live_descendants(), [], "processes outlived the test")

    def session_env(self):
        return self.home.env(self.screen.env())

    def list_windows(self):
        return [w for w in self.screen.windows(AGENT_TITLE)
                if "DIALOG" not in self.screen.window_type(w)]

    def wait_agent_on_screen(self, other_than=()):
        """The one agent of the folder, once its icon and its list window are up."""
        pids = desktop.poll(lambda: [p for p in agent_processes(self.agent)
                                     if p not in other_than], 30, "the agent's process")
        self.assertEqual(len(pids), 1, pids)
        self.screen.wait_tray_icons(1, timeout=30)
        desktop.poll(self.list_windows, 30, "the list window")
        return pids[0]

    def test_log_in_start_second_install_and_remove(self):
        before = self.home.snapshot()
        diary = file_hash(self.diary)
        with ZombieCollector():
            status, output = self.home.install("--no-start", env=self.session_env())
            self.assertEqual(status, 0, output)
            self.assertIn(self.folder, output)
            validate_entry(self, self.home.autostart_entry)
            validate_entry(self, self.home.menu_entry)

            # The session's start of the log-in entry.
            subprocess.run(["gio", "launch", self.home.autostart_entry], env=self.session_env(),
                           check=True, timeout=30, stdin=subprocess.DEVNULL)
            first = self.wait_agent_on_screen()
            installed = self.home.snapshot()

            status, output = self.home.install(env=self.session_env())
            self.assertEqual(status, 0, output)
            self.assertIn(f"Ending the agent running from {self.folder} (process {first})",
                          output)
            desktop.poll(lambda: first not in agent_processes(self.agent), 15,
                         "the first agent to end")
            self.wait_agent_on_screen(other_than=(first,))
            self.assertEqual(without(self.home.snapshot(), self.agent),
                             without(installed, self.agent))

            status, output = self.home.install("--remove", env=self.session_env())
            self.assertEqual(status, 0, output)
            desktop.poll(lambda: not agent_processes(self.agent), 15, "the agent to end")
            self.screen.wait_tray_icons(0, timeout=15)

        ini = os.path.join(self.folder, "Zurodid.ini")
        self.assertEqual(without(self.home.snapshot(), ini), without(before, ini))
        self.assertEqual(file_hash(self.diary), diary)


class OnTheXfcePanel(InstalledAgentStartsAtLogIn):
    """The same on the XFCE panel, whose tray takes the icon as a StatusNotifierItem."""

    tray = "xfce"


if __name__ == "__main__":
    unittest.main()
