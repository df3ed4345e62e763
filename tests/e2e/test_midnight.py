"""The real agent left running across midnight on a real desktop, its clock set by faketime.

The list holds today's and tomorrow's appointments (AppointmentStartUp=1). Tonight's row is
reminded tonight, tomorrow night's row is not (it is not its day), and after midnight the new
day's list brings the appointment at 00:00. What the case reads is what the desktop exposes:
the boxes' titles and roles, their texts in the accessibility tree, the agent's standard error.
"""

import os
import signal
import sys
import unittest

import desktop
from test_agent import AgentTestCase

# Started on the test's day (2026-12-07) this many seconds before midnight: room for a slow
# start before the 23:59 box, and the 00:00 minute for the box after midnight.
SECONDS_BEFORE_MIDNIGHT = 15


class MidnightTest(AgentTestCase):
    def box_text(self):
        """The open reminder's text as the box shows it (its label in the accessibility
        tree)."""
        texts = desktop.poll(lambda: [t for t in self.screen.window_texts(desktop.AGENT_TITLE)
                                      if " : " in t], 10, "the box's text")
        self.assertEqual(len(texts), 1, texts)
        return texts[0]

    def test_tonight_reminded_tomorrow_night_not_and_after_midnight_the_new_days_list(self):
        self.agent.write_settings(appointment_days=1, remind=0)
        # Tomorrow's rows first: reminded by its time of day alone, tomorrow night's would come
        # tonight. (A row whose time lies ahead holds the cursor, so 00:00 comes before 23:59.)
        self.agent.write_diary(appointments=[(1, "00:00", "After midnight"),
                                             (1, "23:59", "Tomorrow night"),
                                             (0, "23:59", "Tonight")])
        self.start_agent(f"23:59:{60 - SECONDS_BEFORE_MIDNIGHT:02d}")

        tonight = self.wait_box(timeout=SECONDS_BEFORE_MIDNIGHT)
        self.assertEqual(self.box_text(), "23:59 : Tonight")
        self.assertEqual(self.box_icon(tonight), "critical")
        self.press_ok(tonight)

        after_midnight = self.wait_box(timeout=SECONDS_BEFORE_MIDNIGHT + 30)
        self.assertGreaterEqual(self.agent.most_seconds_on_clock(), SECONDS_BEFORE_MIDNIGHT,
                                "a box before midnight")
        self.assertEqual(self.box_text(), "00:00 : After midnight")
        self.assertEqual(self.box_icon(after_midnight), "critical")
        self.press_ok(after_midnight)

        # Tomorrow night's row waits for its own evening: no third box.
        self.screen.stays_absent(self.boxes, 2, "a box for another row")
        self.assert_stays_alive(0.1)
        # Nothing went wrong, so standard error holds only why the boxes were silent: this
        # desktop has no sound server.
        with open(os.path.join(self.work, "zurodid-agent.log"), encoding="utf-8",
                  errors="replace") as log:
            lines = log.read().splitlines()
        self.assertEqual(len(lines), 1, lines)
        self.assertTrue(lines[0].startswith("zurodid-agent: playing the reminder box's sound"),
                        lines)

    def test_a_box_left_open_and_a_sleep_across_midnight_lose_no_reminder(self):
        self.agent.write_settings(appointment_days=0, remind=0)
        self.agent.write_diary(appointments=[(0, "23:59", "Tonight"),
                                             (1, "00:00", "At midnight"),
                                             (1, "00:20", "During the sleep"),
                                             (1, "00:40", "Later")])
        self.agent.start(f"23:59:{60 - SECONDS_BEFORE_MIDNIGHT:02d}", movable=True)
        self.screen.wait_tray_icons(1, timeout=30)

        tonight = self.wait_box(timeout=SECONDS_BEFORE_MIDNIGHT + 10)
        self.assertEqual(self.box_text(), "23:59 : Tonight")
        # Left open past midnight and past the 00:00 minute.
        self.agent.move_clock(90)
        desktop.poll(lambda: self.agent.fake_now().minute == 1, 10, "the clock past 00:00")
        self.press_ok(tonight)
        self.wait_box(timeout=10)
        self.assertEqual(self.box_text(), "00:00 : At midnight")
        self.press_ok(self.wait_box())
        self.screen.stays_absent(self.boxes, 2, "a box shown twice")

        # Suspended across 00:20: the box comes once the agent runs again.
        os.kill(self.agent.process.pid, signal.SIGSTOP)
        try:
            self.agent.move_clock(20 * 60)
        finally:
            os.kill(self.agent.process.pid, signal.SIGCONT)
        box = self.wait_box(timeout=10)
        self.assertEqual(self.box_text(), "00:20 : During the sleep")
        self.press_ok(box)
        self.screen.stays_absent(self.boxes, 2, "a box for a row still ahead")
        self.assert_stays_alive(0.1)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + (sys.argv[1:] or ["MidnightTest"]))
