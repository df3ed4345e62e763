"""The entries as real readers of Desktop Entry files read them: desktop-file-validate, and
GLib's launcher (gio launch, as GNOME and XFCE start log-in entries), on awkward folder names.

The agent's place is taken by a stand-in that writes down the path it was started by: what is
checked here is the launcher's reading of the entry, not the agent (the desktop test starts the
real one)."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

import installtest

# Folder names a wine prefix can have, each with a character the Exec rules treat specially.
AWKWARD_NAMES = {
    "blank": "Program Files",
    "thai": "ไดอารี่ Zurodid",
    "percent": "100% sure",
    "percent_field_code": "a %f b",
    "double_quote": 'say "hi"',
    "backtick": "back`tick",
    "dollar": "$HOME and $(id)",
    "backslash": "back\\slash",
    "single_quote": "it's",
    "shell_characters": "a;b&c|d<e>f*g?h#i~j",
    "tab_and_newline": "tab\there\nnewline",
    "everything": 'ไดอารี่ "100%" `$x` \\ \'y\'',
}

# Writes, then renames: the record is there whole or not at all.
STAND_IN = ("#!/bin/sh\nprintf '%s' \"$0\" > \"$ZURODID_LAUNCH_RECORD.new\" &&\n"
            "mv \"$ZURODID_LAUNCH_RECORD.new\" \"$ZURODID_LAUNCH_RECORD\"\n")


def desktop_entry_tool():
    return os.path.join(installtest.build_dir(), "tools", "desktop-entry", "desktop-entry")


class LaunchersReadTheEntries(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="zurodid-entry-")
        self.addCleanup(shutil.rmtree, self.work, True)

    def write_entry(self, kind, executable):
        path = os.path.join(self.work, f"{kind}-{len(os.listdir(self.work))}.desktop")
        with open(path, "wb") as out:
            subprocess.run([desktop_entry_tool(), kind, executable], stdout=out, check=True,
                           timeout=30)
        return path

    def launch(self, entry):
        """Runs the entry through gio launch; returns the path the program was started by."""
        record = os.path.join(self.work, "launched")
        if os.path.exists(record):
            os.remove(record)
        env = dict(os.environ, ZURODID_LAUNCH_RECORD=record)
        result = subprocess.run(["gio", "launch", entry], env=env, capture_output=True,
                                text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        deadline = time.monotonic() + 20
        while not os.path.exists(record):
            self.assertLess(time.monotonic(), deadline, "the launched program did not run")
            time.sleep(0.02)
        with open(record, "rb") as started:
            return started.read().decode()

    def test_every_awkward_folder_name(self):
        for case, name in AWKWARD_NAMES.items():
            with self.subTest(case):
                folder = os.path.join(self.work, name)
                os.makedirs(folder)
                agent = os.path.join(folder, "zurodid-agent")
                with open(agent, "w") as stand_in:
                    stand_in.write(STAND_IN)
                os.chmod(agent, 0o755)

                menu = self.write_entry("menu", agent)
                autostart = self.write_entry("autostart", agent)
                installtest.validate_entry(self, menu)
                installtest.validate_entry(self, autostart)
                self.assertEqual(self.launch(autostart), agent)
                self.assertEqual(self.launch(menu), agent)

    def test_a_name_no_entry_can_hold_is_refused(self):
        for case, path in {"not_utf8": b"/tmp/\xff\xfe/zurodid-agent",
                           "control_character": b"/tmp/a\x01b/zurodid-agent",
                           "relative": b"zurodid-agent"}.items():
            with self.subTest(case):
                result = subprocess.run([desktop_entry_tool(), "autostart", path],
                                        capture_output=True, timeout=30)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(result.stdout, b"")
                self.assertIn(b"desktop-entry: ", result.stderr)


if __name__ == "__main__":
    unittest.main()
