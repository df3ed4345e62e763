"""The real agent on a real X desktop with a tray: what a user sees and does.

Each class is one CTest entry (its name is the argument); every case starts its own desktop
and leaves no process behind. What a case looks at is state the desktop exposes (window
titles and roles, the accessibility tree, D-Bus), never pixel colours.
"""

import contextlib
import glob
import os
import random
import shutil
import subprocess
import tempfile
import threading
import time
import unittest

import desktop
from agentfolder import LOGIN_TITLE, AgentFolder
from desktop import AGENT_TITLE

class AgentTestCase(unittest.TestCase):
    tray = "trayer"  # the panel that hosts the icon (desktop.TRAYS)
    start_panel = True  # False: the case starts the panel itself, later
    wm = "openbox"  # the window manager (desktop.WINDOW_MANAGERS)

    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="zurodid-e2e-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.screen = desktop.Desktop(self.work, tray=self.tray, start_panel=self.start_panel,
                                      wm=self.wm)
        self.addCleanup(self._stop_desktop)
        self.screen.start()
        self.agent = AgentFolder(self.screen, os.path.join(self.work, "agent"))

    def _stop_desktop(self):
        # The last screen and the programs' output, to see what a failed case saw.
        artifacts = os.environ.get("ZURODID_E2E_ARTIFACTS")
        if artifacts:
            kept = os.path.join(artifacts, self.id().rsplit(".", 2)[-2:][0] + "."
                                + self._testMethodName)
            os.makedirs(kept, exist_ok=True)
            if self.screen.display:
                with contextlib.suppress(desktop.DesktopError, OSError, subprocess.SubprocessError):
                    self.screen.screenshot(os.path.join(kept, "screen.png"))
                    with open(os.path.join(kept, "windows.txt"), "w") as tree:
                        tree.write(self.screen.run(["xwininfo", "-root", "-tree"]))
        agent = getattr(self, "agent", None)
        if agent and agent.process is not None:
            # How the agent ended, for a case that lost it on the way.
            with open(os.path.join(self.work, "agent.log"), "w") as log:
                log.write(f"exit status: {agent.process.poll()}\n")
        self.screen.stop()
        if artifacts:
            for log in glob.glob(os.path.join(self.work, "*.log")):
                shutil.copy(log, kept)
        self.assertEqual(desktop.live_descendants(), [], "processes outlived the test")

    # -- what the user sees -----------------------------------------------------------------

    def start_agent(self, clock="10:00:00"):
        self.agent.start(clock)
        # Generous: a loaded machine (two builds beside the tests) has been seen to need it.
        self.screen.wait_tray_icons(1, timeout=30)

    def list_windows(self):
        return [w for w in self.screen.windows(AGENT_TITLE)
                if "DIALOG" not in self.screen.window_type(w)]

    def wait_list_window(self, exclude=()):
        return desktop.poll(lambda: next(
            (w for w in self.list_windows() if w not in exclude), None), 10, "the list window")

    def wait_box(self, timeout=10):
        return self.screen.wait_window(AGENT_TITLE, timeout=timeout, kind="DIALOG")

    def boxes(self):
        return [w for w in self.screen.windows(AGENT_TITLE)
                if "DIALOG" in self.screen.window_type(w)]

    def box_icon(self, box):
        """"critical" or "information": the kind the agent gives the box's window."""
        return self.screen.window_role(box)

    def list_rows(self, window_title=AGENT_TITLE):
        """The texts the list window shows (its labels and its rows' cells)."""
        return self.screen.window_texts(window_title)

    def press_ok(self, window):
        """A click on the box's OK (keys reach a box only once it has been left alone)."""
        self.screen.click_button(AGENT_TITLE, "OK")
        desktop.poll(lambda: window not in self.screen.windows(AGENT_TITLE), 5,
                     "the box to close")

    def choose(self, caption):
        """A right click on the icon, then a click on the menu item that shows caption."""
        self.screen.choose_menu_item(caption)

    def assert_stays_alive(self, seconds=1.0):
        self.screen.stays_absent(lambda: not self.agent.alive(), seconds, "the agent ended")
        self.assertEqual(len(self.screen.tray_icons()), 1)


class ReminderTest(AgentTestCase):
    def test_advance_box_at_0904_then_on_time_box_after_0905(self):
        self.agent.write_settings(remind=1, remind_minutes=1)
        self.agent.write_diary(appointments=[("09:05", "Dentist"), ("18:00", "Later")])
        self.start_agent("09:04:50")

        advance = self.wait_box(timeout=9)
        self.assertLess(self.agent.most_seconds_on_clock(), 10, "advance box came after 09:04")
        self.assertEqual(self.box_icon(advance), "information")
        self.press_ok(advance)
        self.assertEqual(self.boxes(), [])

        on_time = self.wait_box(timeout=20)
        self.assertGreaterEqual(self.agent.most_seconds_on_clock(), 10,
                                "the on-time box came before 09:05:00")
        self.assertEqual(self.box_icon(on_time), "critical")
        self.press_ok(on_time)
        self.screen.stays_absent(self.boxes, 1.5, "a second box for the same row")
        self.assert_stays_alive(0.1)
        # This desktop has no sound server: both boxes came, and the log says why once.
        self.assertEqual(self.sound_failures(), 1)

    def sound_failures(self):
        with open(os.path.join(self.work, "zurodid-agent.log"), encoding="utf-8") as log:
            return sum("playing the reminder box's sound" in line for line in log)

    def test_no_advance_box_when_remind_is_off(self):
        self.agent.write_settings(remind=0, remind_minutes=1)
        self.agent.write_diary(appointments=[("09:05", "Dentist")])
        self.start_agent("09:04:56")
        on_time = self.wait_box(timeout=15)
        self.assertGreaterEqual(self.agent.most_seconds_on_clock(), 4)
        self.assertEqual(self.box_icon(on_time), "critical")


class ListWindowTest(AgentTestCase):
    def test_a_second_start_shows_the_running_agents_list_window_and_ends_with_0(self):
        self.agent.write_settings(appointment_days=7)
        self.agent.write_diary(appointments=[(1, "09:00", "Dentist")])
        self.start_agent()
        self.assertEqual(self.list_windows(), [])
        second = self.screen.spawn([self.agent.executable], env=self.screen.env(TZ="UTC"),
                                   cwd="/")
        desktop.poll(lambda: second.poll() is not None, 15, "the second start to end")
        self.assertEqual(second.returncode, 0)
        self.wait_list_window()
        self.assertTrue(self.agent.alive())
        self.assertEqual(len(self.screen.tray_icons()), 1, "a second agent runs")

    def test_left_click_shows_one_list_window_and_a_closed_one_is_loaded_afresh(self):
        self.agent.write_settings(anniversary_days=30, appointment_days=7)
        self.agent.write_diary(anniversaries=[(0, "วันเกิดแม่"), (3, "Wedding")],
                               appointments=[("18:00", "Dinner"), (1, "09:00", "ประชุม")])
        self.start_agent()
        self.assertEqual(self.list_windows(), [], "shown at start with StartUpRemind=0")
        self.screen.click_tray_icon(button=2)
        self.screen.stays_absent(self.list_windows, 0.5, "a middle click opened the list window")

        # A double click shows the window through its releases, once.
        self.screen.click_tray_icon(repeat=2)
        first = self.wait_list_window()
        self.screen.click_tray_icon()
        self.screen.stays_absent(lambda: self.list_windows() != [first], 1.0,
                                 "a second click opened a second window")

        # Loading centres the window: a moved window comes back centred only when reloaded.
        centred = self.screen.geometry(first)
        rows = desktop.poll(lambda: [t for t in self.list_rows() if "Wedding" in t or "ประชุม" in t],
                            5, "the filled list window")
        filled = self.list_rows()
        self.screen.move_window(first, 10, 200)
        self.assertNotEqual(self.screen.geometry(first)[:2], centred[:2])
        self.screen.close_window(first)
        desktop.poll(lambda: not self.list_windows(), 5, "the list window to close")
        self.screen.click_tray_icon()
        second = self.wait_list_window(exclude=(first,))
        desktop.poll(lambda: self.screen.geometry(second)[:2] == centred[:2], 5,
                     "the reloaded window to be centred")
        self.assertTrue(rows)
        self.assertEqual(desktop.poll(lambda: self.list_rows() == filled and filled, 5,
                                      "the reloaded window to show the same rows"), filled)
        self.assert_stays_alive(0.2)


class OptionsTest(AgentTestCase):
    def test_ok_writes_the_five_keys_and_refills_the_open_list(self):
        self.agent.write_settings(startup_remind=1, anniversary_days=30, appointment_days=7,
                                  remind=0, remind_minutes=0)
        self.agent.write_diary(
            anniversaries=[(0, "Today's anniversary"), (2, "วันเกิดสมชาย"), (5, "Five"),
                           (9, "Nine")],
            appointments=[("18:00", "Dinner"), (1, "09:00", "Tomorrow"),
                          (3, "10:00", "ประชุมทีม"), (6, "11:00", "Six")])
        self.start_agent()
        listing = self.wait_list_window()
        rows_before = desktop.poll(lambda: "Nine" in self.list_rows() and self.list_rows(), 5,
                                   "the filled list window")
        self.assertIn("Six", rows_before)
        # The list is drawn in the regular weight, and only the faces drawn with are loaded.
        fonts = self.agent.mapped_font_files()
        self.assertTrue(fonts, "no font file mapped: the check below would see nothing")
        self.assertEqual([font for font in fonts if "bold" in font.lower()], [])

        self.choose("Options")
        options = self.screen.wait_window("Options")
        self.screen.activate(options)
        self.fill_options(options, anniversary="0", appointment="1", minutes="15",
                          toggle_startup=True, toggle_remind=True)
        self.screen.click_in(options, *OPTION_OK)
        self.screen.wait_no_window("Options")

        with open(self.agent.ini, "rb") as settings:
            self.assertEqual(settings.read(),
                             b"[Agent]\r\nStartUpRemind=0\r\nAnniversaryStartUp=0\r\n"
                             b"AppointmentStartUp=1\r\nRemind=1\r\nAppointmentRemind=15\r\n")
        # Fewer days ahead: the open window now holds today's anniversary and the appointments
        # up to tomorrow only.
        rows_after = desktop.poll(lambda: "Nine" not in self.list_rows() and self.list_rows(), 5,
                                  "the open list window to be refilled")
        self.assertIn("Today's anniversary", rows_after)
        self.assertIn("Tomorrow", rows_after)
        for later in ("วันเกิดสมชาย", "Five", "ประชุมทีม", "Six"):
            self.assertNotIn(later, rows_after)
        self.assertEqual(self.list_windows(), [listing])
        self.assert_stays_alive(0.2)

    def test_cancel_writes_nothing(self):
        self.agent.write_settings(startup_remind=0, anniversary_days=30)
        with open(self.agent.ini, "rb") as settings:
            before = settings.read()
        self.agent.write_diary()
        self.start_agent()
        self.choose("Options")
        options = self.screen.wait_window("Options")
        self.screen.activate(options)
        self.fill_options(options, anniversary="5", appointment="5", minutes="5")
        self.screen.click_in(options, *OPTION_CANCEL)
        self.screen.wait_no_window("Options")
        with open(self.agent.ini, "rb") as settings:
            self.assertEqual(settings.read(), before)

    def fill_options(self, options, anniversary, appointment, minutes, toggle_startup=False,
                     toggle_remind=False):
        for box, text in ((OPTION_ANNIVERSARY, anniversary), (OPTION_APPOINTMENT, appointment),
                          (OPTION_MINUTES, minutes)):
            self.screen.click_in(options, *box)
            self.screen.keys("ctrl+a", "BackSpace")
            self.screen.type_text(text)
        if toggle_startup:
            self.screen.click_in(options, *OPTION_STARTUP)
        if toggle_remind:
            self.screen.click_in(options, *OPTION_REMIND)


# Points inside the Options dialog's controls, in pixels from its client area's corner
# (the layout's twips / 15, a frame's controls offset by the frame).
OPTION_STARTUP = (24, 8)
OPTION_ANNIVERSARY = (192, 38)
OPTION_APPOINTMENT = (192, 70)
OPTION_REMIND = (24, 120)
OPTION_MINUTES = (192, 142)
OPTION_OK = (84, 188)
OPTION_CANCEL = (172, 188)


class RefreshTest(AgentTestCase):
    def test_refresh_takes_up_a_replaced_diary_and_reminds_its_new_appointment(self):
        self.agent.write_settings()
        self.agent.write_diary(appointments=[("23:00", "Late")])
        self.start_agent("09:04:35")
        self.agent.write_diary(appointments=[("09:05", "New one"), ("23:00", "Late")])
        self.choose("Refresh")
        box = self.wait_box(timeout=40)
        self.assertGreaterEqual(self.agent.most_seconds_on_clock(), 25,
                                "the new appointment's box came before its minute")
        self.assertEqual(self.box_icon(box), "critical")
        self.press_ok(box)
        self.assert_stays_alive(0.5)


class InPlaceSaveTest(AgentTestCase):
    def test_refresh_while_the_diary_is_saved_in_place_reminds_from_the_saved_version(self):
        self.agent.write_settings()
        old = [("09:06", "Old one"), ("23:00", "Late")]
        new = [("09:06", "New one"), ("23:00", "Late")]
        self.agent.write_diary(appointments=old)
        versions = [self.agent.diary_bytes(appointments=content) for content in (new, old, new)]
        self.start_agent("09:05:25")
        rng = random.Random(20261209)
        # Saves for about two seconds, Refresh chosen in the middle of them.
        saving = threading.Thread(target=self.agent.rewrite_in_place, args=(versions * 4, rng))
        saving.start()
        try:
            self.choose("Refresh")
        finally:
            saving.join()
        box = self.wait_box(timeout=45)
        self.assertEqual(self.box_text(), "09:06 : New one")
        self.press_ok(box)
        self.screen.stays_absent(self.boxes, 3, "a box of the old version or a second box")
        self.assert_stays_alive(0.1)

    def box_text(self):
        texts = desktop.poll(lambda: [t for t in self.screen.window_texts(AGENT_TITLE)
                                      if " : " in t], 10, "the box's text")
        self.assertEqual(len(texts), 1, texts)
        return texts[0]


class PasswordTest(AgentTestCase):
    def test_wrong_password_asks_again_right_one_runs_refresh_asks_cancel_ends(self):
        self.agent.write_settings()
        self.agent.write_diary(appointments=[("23:00", "Late")], password="s3cret pass")
        self.agent.start("10:00:00")
        login = self.screen.wait_window(LOGIN_TITLE)
        self.screen.activate(login)
        self.screen.type_text("wrong")
        self.screen.keys("Return")
        again = self.screen.wait_window(LOGIN_TITLE, exclude=(login,))
        self.screen.activate(again)
        self.screen.type_text("s3cret pass")
        self.screen.keys("Return")
        self.screen.wait_no_window(LOGIN_TITLE)
        self.assert_stays_alive(1.0)
        self.assertEqual(self.screen.windows(LOGIN_TITLE), [], "the right password was refused")

        self.choose("Refresh")
        asked = self.screen.wait_window(LOGIN_TITLE)
        self.screen.activate(asked)
        self.screen.keys("Escape")
        self.agent.wait_exit()
        self.screen.wait_tray_icons(0)


class MenuTest(AgentTestCase):
    def test_run_zurodid_without_the_program_tells_and_lives_on(self):
        self.agent.write_settings()
        self.agent.write_diary()
        self.start_agent()
        self.choose("Run Zurodid")
        box = self.wait_box()
        self.press_ok(box)
        self.assert_stays_alive(0.5)

    def test_exit_ends_the_agent_with_its_windows_open_and_takes_the_icon_away(self):
        self.agent.write_settings(startup_remind=1)
        self.agent.write_diary()
        self.start_agent()
        self.wait_list_window()
        self.choose("Options")
        self.screen.activate(self.screen.wait_window("Options"))
        self.choose("Exit")
        self.assertEqual(self.agent.wait_exit(), 0)
        self.screen.wait_tray_icons(0)
        self.assertEqual(self.list_windows(), [])
        self.assertEqual(self.screen.windows("Options"), [])

    def test_a_second_agent_in_the_same_folder_ends_at_once(self):
        self.agent.write_settings()
        self.agent.write_diary()
        self.start_agent()
        first = self.agent.process
        self.agent.start("10:00:00")
        self.assertEqual(self.agent.wait_exit(timeout=5), 0)
        self.assertIsNone(first.poll(), "the first agent ended with the second")
        self.agent.process = first
        self.assert_stays_alive(1.0)


if __name__ == "__main__":
    unittest.main()
