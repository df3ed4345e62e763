"""The desktop harness itself: it must come up with a tray and leave no process behind."""

import os
import subprocess
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
                screen._spawn(["sh", "-c", "sleep 600 & exit 0"])
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


if __name__ == "__main__":
    unittest.main()
