"""The desktop harness itself: it must come up with a tray and leave no process behind."""

import os
import subprocess
import sys
import tempfile
import unittest

import desktop


class DesktopHarnessTest(unittest.TestCase):
    def test_tray_is_up_and_everything_is_reaped(self):
        with tempfile.TemporaryDirectory() as work:
            with desktop.Desktop(work) as screen:
                self.assertTrue(screen.xlib.selection_owner(screen.display, "_NET_SYSTEM_TRAY_S0"))
                self.assertEqual(screen.tray_icons(), [])
                # A child that leaves an orphan behind: the harness must still reap it.
                screen.spawn(["sh", "-c", "sleep 600 & exit 0"])
                display = screen.display
                self.assertTrue(desktop.live_descendants())
            self.assertEqual(desktop.live_descendants(), [])
            probe = subprocess.run(["xdpyinfo", "-display", display], capture_output=True)
            self.assertNotEqual(probe.returncode, 0, "the X server outlived the harness")

    def test_two_desktops_get_different_displays(self):
        with tempfile.TemporaryDirectory() as work:
            with desktop.Desktop(os.path.join(work)) as first, \
                    desktop.Desktop(tempfile.mkdtemp(dir=work)) as second:
                self.assertNotEqual(first.display, second.display)

    def test_importing_the_harness_changes_nothing_in_the_process(self):
        probe = ("import ctypes, ctypes.util, sys; sys.path.insert(0, sys.argv[1]); "
                 "import desktop; libc = ctypes.CDLL(ctypes.util.find_library('c')); "
                 "flag = ctypes.c_int(-1); libc.prctl(37, ctypes.byref(flag), 0, 0, 0); "
                 "print(flag.value)")  # PR_GET_CHILD_SUBREAPER
        out = subprocess.run([sys.executable, "-c", probe, os.path.dirname(desktop.__file__)],
                             capture_output=True, text=True, check=True).stdout
        self.assertEqual(out.strip(), "0", "importing made the process a subreaper")

    def test_each_panel_hosts_its_kind_of_tray_and_comes_back_after_a_kill(self):
        for tray in desktop.TRAYS:
            with self.subTest(tray=tray), tempfile.TemporaryDirectory() as work:
                with desktop.Desktop(work, tray=tray) as screen:
                    self.assertTrue(screen.xlib.selection_owner(screen.display,
                                                                "_NET_SYSTEM_TRAY_S0"))
                    # Only the XFCE panel is a StatusNotifierItem host.
                    self.assertEqual(screen._sni_host_runs(), tray == "xfce")
                    screen.stop_panel()
                    self.assertFalse(screen.xlib.selection_owner(screen.display,
                                                                 "_NET_SYSTEM_TRAY_S0"))
                    screen.start_panel()
                    self.assertEqual(screen.tray_icons(), [])
                self.assertEqual(desktop.live_descendants(), [])


if __name__ == "__main__":
    unittest.main()
