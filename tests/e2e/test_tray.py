"""The icon and its menu on the two kinds of notification area users have: an XEmbed tray
(trayer) and a StatusNotifierItem host (the XFCE panel's systray, over D-Bus); panels that
start late and panels that restart.

  test_tray.py CLASS   runs one class; each is one CTest entry
"""

import os
import re
import shutil
import time

import desktop
from test_agent import AgentTestCase, unittest

NO_TRAY_LINE = ("Zurodid Agent: no notification area is running; the icon will appear when "
                "one starts.")


def read_text(path):
    with open(path, encoding="utf-8") as text:
        return text.read()


class TrayCases:
    """What a user does with the icon, on whichever panel the subclass names."""

    def test_clicks_and_every_menu_command_by_its_caption_then_exit_takes_the_icon_away(self):
        self.agent.write_settings(anniversary_days=30)
        self.agent.write_diary(anniversaries=[(2, "Wedding")])
        self.start_agent()
        if self.tray == "xfce":
            self.assertEqual(len(self.screen.status_notifier_items()), 1,
                             "the icon is not a StatusNotifierItem of the panel")

        self.screen.click_tray_icon()
        listing = self.wait_list_window()
        self.screen.close_window(listing)
        desktop.poll(lambda: not self.list_windows(), 5, "the list window to close")

        self.choose("Show")
        self.wait_list_window(exclude=(listing,))
        self.choose("Options")
        options = self.screen.wait_window("Options")
        self.screen.close_window(options)
        self.screen.wait_no_window("Options")
        self.choose("About")
        about = self.screen.wait_window("Zurodid")
        self.screen.close_window(about)
        self.screen.wait_no_window("Zurodid")
        self.choose("Refresh")
        self.assert_stays_alive(0.5)
        self.choose("Run Zurodid")
        box = self.wait_box()
        self.assertEqual(self.box_icon(box), "critical")
        self.press_ok(box)

        self.choose("Exit")
        self.assertEqual(self.agent.wait_exit(), 0)
        self.screen.wait_tray_icons(0)

    def test_a_panel_killed_and_started_again_shows_the_icon_again(self):
        self.agent.write_settings()
        self.agent.write_diary()
        self.start_agent()
        for _ in range(2):
            self.screen.stop_panel()
            self.assertTrue(self.agent.alive(), "the agent ended with the panel")
            self.screen.start_panel()
            self.screen.wait_tray_icons(1, timeout=5)
        self.choose("Options")
        self.screen.wait_window("Options")


class XfceContextMenuCases:
    """A StatusNotifierItem host that cannot draw menus asks the item for it (ContextMenu)."""

    def test_a_host_that_asks_for_the_menu_gets_it_at_the_pointer_and_its_choice_runs(self):
        self.agent.write_settings()
        self.agent.write_diary()
        self.start_agent()
        item = self.screen.status_notifier_items()[0].split("/")[0]
        at = []

        def ask_for_the_menu():
            self.screen.run(["xdotool", "mousemove", "400", "300"])
            self.screen.run(["dbus-send", "--session", "--print-reply", f"--dest={item}",
                             "/StatusNotifierItem", "org.kde.StatusNotifierItem.ContextMenu",
                             "int32:400", "int32:300"])
            at.append(self.screen.geometry(self.screen.wait_popup_menu()))

        self.screen.choose_menu_item("Options", open_menu=ask_for_the_menu)
        x, y, _, _ = at[-1]
        self.assertLess(abs(x - 400) + abs(y - 300), 40, "the menu is not at the pointer")
        self.screen.wait_window("Options")
        desktop.poll(lambda: not self.agent_menus(), 5, "the menu to close")

    def agent_menus(self):
        try:
            return self.screen.wait_popup_menu(timeout=0)
        except desktop.DesktopError:
            return None


class StatusNotifierIconCases:
    """The icon as a StatusNotifierItem host reads it over D-Bus."""

    def icon_properties(self):
        service, _, path = self.screen.status_notifier_items()[0].partition("/")

        def get(name):
            return self.screen.run(["dbus-send", "--session", "--print-reply",
                                    f"--dest={service}", "/" + path,
                                    "org.freedesktop.DBus.Properties.Get",
                                    "string:org.kde.StatusNotifierItem", f"string:{name}"])

        name = re.search(r'string "(.*)"', get("IconName")).group(1)
        sizes = {(int(w), int(h)) for w, h in re.findall(r"int32 (\d+)\s+int32 (\d+)",
                                                           get("IconPixmap"))}
        return name, sizes

    def test_the_item_carries_every_size_and_names_the_installed_theme_icon(self):
        # Qt sends no picture above 64 px over D-Bus; a host draws larger ones from the name.
        every_size = {(n, n) for n in (16, 22, 24, 32, 48, 64)}
        built_icons = os.path.join(os.path.dirname(os.environ["ZURODID_AGENT"]), "icons",
                                   "hicolor")
        for installed in (False, True):
            with self.subTest(installed=installed):
                if installed:
                    # Where scripts/install puts it.
                    shutil.copytree(built_icons, os.path.join(self.work, "data", "icons",
                                                              "hicolor"))
                    self.agent.process.terminate()
                    self.agent.wait_exit()
                    self.screen.wait_tray_icons(0)
                else:
                    self.agent.write_settings()
                    self.agent.write_diary()
                self.start_agent()
                name, sizes = self.icon_properties()
                self.assertEqual(name, "zurodid-agent" if installed else "")
                self.assertEqual(sizes, every_size)


class LatePanelCases:
    """A panel that starts after the agent has said that none runs, as after a slow log-in.
    The agent watches for the panel rather than looking for it now and then, so how late it
    comes changes nothing: a few seconds stand for minutes."""

    start_panel = False
    delay = 3

    def test_a_panel_started_after_the_agent_shows_the_icon_and_its_menu_works(self):
        self.agent.write_settings()
        self.agent.write_diary()
        self.agent.start("10:00:00")
        log = os.path.join(self.work, "zurodid-agent.log")
        desktop.poll(lambda: NO_TRAY_LINE in read_text(log), 30,
                     "the agent to say that no notification area runs")
        started = time.monotonic()
        self.screen.stays_absent(lambda: not self.agent.alive(), self.delay,
                                 "the agent ended without a panel", interval=0.2)
        self.assertGreaterEqual(time.monotonic() - started, self.delay)
        self.screen.start_panel()
        self.screen.wait_tray_icons(1, timeout=10)
        self.choose("Options")
        self.screen.wait_window("Options")
        self.assertEqual(read_text(log).count(NO_TRAY_LINE), 1, "said more than once")


class TrayerTrayTest(TrayCases, AgentTestCase):
    tray = "trayer"


class XfceTrayTest(TrayCases, XfceContextMenuCases, StatusNotifierIconCases, AgentTestCase):
    tray = "xfce"


class TrayerLatePanelTest(LatePanelCases, AgentTestCase):
    tray = "trayer"


class XfceLatePanelTest(LatePanelCases, AgentTestCase):
    tray = "xfce"


if __name__ == "__main__":
    unittest.main()
