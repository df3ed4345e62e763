"""A reminder box reaches a person who is typing in another window: typing does not dismiss
it, it stays above that window and asks for attention, and its sound is heard.

  test_reminder_box.py CLASS   runs one class (one window manager); each is one CTest entry

The sound server is a real PulseAudio with a null sink; what the sink plays is recorded from
its monitor.
"""

import os
import struct

import desktop
from desktop import AGENT_TITLE
from test_agent import AgentTestCase, unittest

# Prose as a person types it, Enter and spaces included: either would press a focused OK.
PROSE = ("Dear Ann, thank you for the photographs of the garden. The roses came out well "
         "this year.\nWe will visit on Sunday if the weather holds; tell me what to bring.\n"
         "The children ask about the dog every day. See you soon, and love to all.\n") * 2
KEYS_PER_SECOND = 8
# Long enough to tell a box that survived from one that closed a moment later.
SURVIVES_SECONDS = 5
RATE = 44100
LOUD = 300  # an amplitude no silence reaches (16-bit samples)


class SoundServer:
    """PulseAudio on the desktop's runtime folder, its default sink a null sink whose monitor
    is recorded, one 16-bit mono sample at a time, into a file."""

    def __init__(self, screen, workdir):
        self.screen = screen
        self.recording = os.path.join(workdir, "sink.raw")
        self.server = screen.spawn(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "--load=module-native-protocol-unix",
             "--load=module-null-sink sink_name=boxes"], env=screen.env())
        desktop.poll(lambda: "boxes" in screen.run(["pactl", "list", "short", "sinks"],
                                                    check=False), 10, "the sound server")
        self.out = open(self.recording, "wb")
        self.recorder = screen.spawn(
            ["parec", "-d", "boxes.monitor", "--raw", "--format=s16le", f"--rate={RATE}",
             "--channels=1", "--latency-msec=20"], env=screen.env(), stdout=self.out)
        desktop.poll(lambda: os.path.getsize(self.recording) > 0, 10, "the recording to run")

    def now(self):
        """Where the recording is: the number of samples recorded so far."""
        return os.path.getsize(self.recording) // 2

    def loud_near(self, sample, seconds=1.0):
        """Waits until the recording reaches a second past sample; returns the seconds from
        sample to the first loud sample within a second either side, None if all is quiet."""
        span = int(RATE * seconds)
        desktop.poll(lambda: self.now() > sample + span, 10, "the recording to go on")
        with open(self.recording, "rb") as recorded:
            start = max(0, sample - span)
            recorded.seek(start * 2)
            data = recorded.read(2 * span * 2)
        values = struct.unpack(f"<{len(data) // 2}h", data[:len(data) // 2 * 2])
        loud = next((i for i, v in enumerate(values) if abs(v) > LOUD), None)
        return None if loud is None else (start + loud - sample) / RATE

    def close(self):
        self.out.close()


class BoxWhileTyping(AgentTestCase):
    # A window manager that draws minimise whatever the box asks: the box draws its own title.
    own_title = False

    def setUp(self):
        if type(self) is BoxWhileTyping:
            raise unittest.SkipTest("the cases run under each window manager's class")
        super().setUp()

    def test_typing_leaves_both_boxes_open_above_urgent_and_heard_and_a_click_closes_each(self):
        self.agent.write_settings(remind=1, remind_minutes=1)
        self.agent.write_diary(appointments=[("09:05", "Dentist")])
        sound = SoundServer(self.screen, self.work)
        self.addCleanup(sound.close)
        self.screen.spawn(["xterm", "-maximized", "-T", "typing", "-e", "cat"],
                          env=self.screen.env())
        terminal = self.screen.wait_window("typing")
        self.screen.activate(terminal)
        # xdotool types a key every half of its --delay.
        typist = self.screen.spawn(["xdotool", "type", "--delay",
                                    str(2000 // KEYS_PER_SECOND), PROSE], env=self.screen.env())

        self.start_agent("09:04:52")
        seen = {}
        for kind, timeout in (("information", 15), ("critical", 20)):
            box = self.wait_box(timeout=timeout)
            # The keys go on reaching the terminal: the box came without taking them.
            self.assertEqual(self.screen.active_window(), terminal, kind)
            heard = sound.loud_near(sound.now())
            self.assertEqual(self.box_icon(box), kind)
            self.screen.stays_absent(lambda: box not in self.screen.windows(AGENT_TITLE),
                                     SURVIVES_SECONDS, f"the {kind} box closed while typing")
            self.assertIsNone(typist.poll(), "the typing ended before the box was judged")
            self.assertEqual(self.screen.active_window(), terminal, kind)
            # The person clicks back into their window: the box stays above it and asks.
            self.screen.click(40, self.screen.size[1] - 40)
            desktop.poll(lambda: self.screen.active_window() == terminal, 5,
                         "the terminal to have the focus")
            desktop.poll(lambda: self.screen.is_urgent(box), 5, f"the {kind} box to be urgent")
            state = self.screen.net_wm_state(box)
            actions = self.screen.allowed_actions(box)
            seen[kind] = dict(heard=round(heard, 2) if heard is not None else None,
                              state=sorted(state), actions=sorted(actions))
            self.assertIn("CLOSE", actions, kind)
            self.assertFalse({"MAXIMIZE_HORZ", "MAXIMIZE_VERT"} & actions, kind)
            self.assertIn("ABOVE", state, kind)
            self.assertIn("DEMANDS_ATTENTION", state, kind)
            self.assertIn(box, self.screen.windows(AGENT_TITLE))
            self.assertIsNotNone(heard, f"no sound within a second of the {kind} box")
            close = "OK"
            if self.own_title:
                # No frame, so no buttons of the window manager's: the box's own title strip
                # has the one close button, and it closes the box.
                seen[kind]["frame"] = self.screen.frame_extents(box)
                self.assertEqual(self.screen.frame_extents(box), [0, 0, 0, 0], kind)
                close = "Close" if kind == "critical" else "OK"
            else:
                self.assertNotIn("MINIMIZE", actions, kind)
            self.screen.click_button(AGENT_TITLE, close)
            desktop.poll(lambda: box not in self.screen.windows(AGENT_TITLE), 5,
                         f"the {kind} box to close on a click on {close}")
        # The figures for the record: when the sound began against the box, the box's states.
        print(f"{self.wm}: {seen}")


class OpenboxTest(BoxWhileTyping):
    wm = "openbox"
    # Openbox ignores the Motif hints' iconify function on purpose; only a menu or toolbar
    # window loses its minimise button there.
    own_title = True


class Xfwm4Test(BoxWhileTyping):
    wm = "xfwm4"


if __name__ == "__main__":
    unittest.main()
