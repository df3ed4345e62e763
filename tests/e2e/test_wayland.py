"""The agent on Wayland: sway in headless mode with waybar's tray, a StatusNotifierItem host.

sway refuses to run as root, so when the tests run as root the compositor, its D-Bus session,
waybar and the agent run as the unprivileged user nobody. The headless seat has no pointer:
the host's part is played over D-Bus, with the calls a host makes (Activate, and DBusMenu's
GetLayout and Event), which is what waybar does on a click.
"""

import os
import re
import shutil
import signal
import subprocess
import tempfile
import unittest

import desktop
from agentfolder import diary_description, settings_text, tool

WATCHER = "org.kde.StatusNotifierWatcher"
CAPTIONS = ["Show", "Refresh", "Options", "About", "Run Zurodid", "Exit"]


class WaylandTest(unittest.TestCase):
    def setUp(self):
        desktop.become_subreaper()
        self.work = tempfile.mkdtemp(prefix="zurodid-wayland-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.as_user = []
        if os.geteuid() == 0:
            self.as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
            os.chmod(self.work, 0o755)
        self.runtime = os.path.join(self.work, "runtime")
        config = os.path.join(self.work, "config")
        os.makedirs(os.path.join(config, "sway"))
        os.makedirs(os.path.join(config, "waybar"))
        with open(os.path.join(config, "sway", "config"), "w") as out:
            out.write("bar {\n    swaybar_command waybar\n}\n")
        with open(os.path.join(config, "waybar", "config"), "w") as out:
            out.write('{"position": "top", "height": 30, "modules-right": ["tray"]}\n')
        self.folder = os.path.join(self.work, "agent")
        os.makedirs(self.folder)
        shutil.copy2(tool("ZURODID_AGENT"), os.path.join(self.folder, "zurodid-agent"))
        with open(os.path.join(self.folder, "Zurodid.ini"), "wb") as out:
            out.write(settings_text())
        subprocess.run([tool("ZURODID_MAKE_DIARY"), "-", os.path.join(self.folder, "Zurodid.mdb")],
                       input=diary_description(appointments=[("23:00", "Late")]).encode(),
                       check=True, timeout=30)
        os.makedirs(self.runtime, mode=0o700)
        if self.as_user:
            for root, folders, files in os.walk(self.work):
                for name in [root] + [os.path.join(root, f) for f in folders + files]:
                    shutil.chown(name, "nobody", "nogroup")
        self.env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.work,
                    "XDG_RUNTIME_DIR": self.runtime, "XDG_CONFIG_HOME": config,
                    "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
                    "WLR_RENDERER": "pixman", "LANG": "C.UTF-8"}
        self.processes = []
        self.addCleanup(self.stop_all)
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                         stdout=subprocess.PIPE)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().decode().strip()
        self.start(["sway"])
        self.env["WAYLAND_DISPLAY"] = desktop.poll(self.wayland_socket, 20, "sway's socket")
        desktop.poll(lambda: "boolean true" in self.bus_get(
            WATCHER, "/StatusNotifierWatcher", WATCHER, "IsStatusNotifierHostRegistered"),
            20, "waybar's tray")

    def start(self, argv, **kwargs):
        log = open(os.path.join(self.work, os.path.basename(argv[0]) + ".log"), "ab")
        kwargs.setdefault("stdout", log)
        kwargs.setdefault("env", self.env)
        process = subprocess.Popen(self.as_user + argv, stderr=log, start_new_session=True,
                                   **kwargs)
        log.close()
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            if process.stdout:
                process.stdout.close()
        desktop.reap_orphans()
        self.assertEqual(desktop.live_descendants(), [], "processes outlived the test")

    def wayland_socket(self):
        names = [n for n in os.listdir(self.runtime) if re.fullmatch(r"wayland-\d+", n)]
        return names[0] if names else None

    def call(self, argv):
        sockets = [n for n in os.listdir(self.runtime) if n.startswith("sway-ipc.")]
        env = dict(self.env, SWAYSOCK=os.path.join(self.runtime, sockets[0])) if sockets else self.env
        return subprocess.run(self.as_user + argv, env=env, capture_output=True, text=True,
                              timeout=10).stdout

    def bus_get(self, service, path, interface, name):
        return self.call(["dbus-send", "--session", "--print-reply", f"--dest={service}", path,
                          "org.freedesktop.DBus.Properties.Get", f"string:{interface}",
                          f"string:{name}"])

    def window_names(self):
        return re.findall(r'"name": "([^"]*)"', self.call(["swaymsg", "-t", "get_tree"]))

    def test_icon_registers_activate_opens_the_list_and_the_menu_runs_options_then_exit(self):
        agent = self.start([os.path.join(self.folder, "zurodid-agent")],
                           env=dict(self.env, QT_QPA_PLATFORM="wayland"))
        item = desktop.poll(lambda: re.findall(r'string "([^"]+)/StatusNotifierItem"',
                                               self.bus_get(WATCHER, "/StatusNotifierWatcher",
                                                            WATCHER,
                                                            "RegisteredStatusNotifierItems")),
                            20, "the agent's item")[0]
        sni = "org.kde.StatusNotifierItem"
        self.assertIn('"Zurodid Agent"', self.bus_get(item, "/StatusNotifierItem", sni, "Title"))
        self.assertIn('"/MenuBar"', self.bus_get(item, "/StatusNotifierItem", sni, "Menu"))

        self.call(["dbus-send", "--session", "--print-reply", f"--dest={item}",
                   "/StatusNotifierItem", f"{sni}.Activate", "int32:0", "int32:0"])
        desktop.poll(lambda: "Zurodid Agent" in self.window_names(), 10, "the list window")

        layout = " ".join(self.call(["dbus-send", "--session", "--print-reply", f"--dest={item}",
                                     "/MenuBar", "com.canonical.dbusmenu.GetLayout", "int32:0",
                                     "int32:-1", "array:string:label"]).split())
        self.assertEqual(layout.count("variant struct {"), 8, "eight items with separators")
        items = []
        for child in layout.split("variant struct {")[1:]:
            number = re.match(r"\s*int32 (\d+)", child)
            label = re.search(r'"label" variant string "([^"]*)"', child)
            if number and label:
                items.append((number.group(1), label.group(1)))
        self.assertEqual([caption for _, caption in items], CAPTIONS)
        ids = {caption: number for number, caption in items}

        def click(caption):
            self.call(["dbus-send", "--session", "--print-reply", f"--dest={item}", "/MenuBar",
                       "com.canonical.dbusmenu.Event", f"int32:{ids[caption]}",
                       "string:clicked", "variant:int32:0", "uint32:0"])

        click("Options")
        desktop.poll(lambda: "Options" in self.window_names(), 10, "the Options dialog")
        click("Exit")
        desktop.poll(lambda: agent.poll() is not None, 10, "the agent to end")
        self.assertEqual(agent.returncode, 0)
        # No window of the agent's own menu ever opened: the host draws the menu.
        self.assertNotIn("zurodid-agent", self.window_names())


if __name__ == "__main__":
    unittest.main()
