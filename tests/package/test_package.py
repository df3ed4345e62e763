"""The Debian package as a user gets it: lintian finds no error and no warning, the metainfo
and the menu entry pass their validators. Then, in a clean Debian 12 made for the test
(debootstrap --variant=minbase, from the mirror apt uses here), apt-get installs it without
recommendations, so that a forgotten dependency is missed; on an X desktop with a tray outside
the root (the root's programs reach the X server by its abstract socket) the installed agent
started with --folder shows its icon and list window; zurodid-agent-setup finds a diary in a
Thai-named folder of a wine prefix; gio launch starts the log-in entry for that folder;
setup --remove ends it; apt-get purge leaves no file behind.

    test_package.py [unittest options] DEB    (ZURODID_BUILD_DIR names a build with make-diary)
"""

import contextlib
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "e2e"), os.path.join(HERE, "..", "install")]

import desktop  # noqa: E402
import installtest  # noqa: E402
from desktop import AGENT_TITLE  # noqa: E402
from test_install_desktop import ZombieCollector  # noqa: E402

DEB = None
THAI_FOLDER = "/root/.wine/drive_c/Program Files/ไดอารี่ Zurodid"
# Not the package's: what apt, dpkg and the test itself keep or make in the root.
UNTRACKED = ("/proc", "/dev", "/sys", "/tmp", "/run", "/var", "/root", "/etc/ld.so.cache")


def run(argv, timeout=600, **kwargs):
    """Runs a command, returns its output; raises with the output when it fails."""
    # A file, not a pipe: an agent a command starts keeps the output open.
    with tempfile.TemporaryFile() as log:
        status = subprocess.run(argv, stdout=log, stderr=subprocess.STDOUT, timeout=timeout,
                                stdin=subprocess.DEVNULL, **kwargs).returncode
        log.seek(0)
        output = log.read().decode("utf-8", "replace")
    if status != 0:
        raise AssertionError(f"{argv} ended with {status}:\n{output[-6000:]}")
    return output


def debian_sources():
    """The Debian 12 suites apt uses here, as apt reads its sources: (address, suite,
    component), the main suite first."""
    listing = run(["apt-get", "indextargets", "--format", "$(REPO_URI) $(RELEASE) $(COMPONENT)",
                   "Identifier: Packages"])
    found = sorted({tuple(line.split()) for line in listing.splitlines()
                    if re.fullmatch(r"\S+ bookworm(-\w+)? \S+", line)},
                   key=lambda source: (source[1] != "bookworm", source))
    if not found or found[0][1] != "bookworm":
        raise unittest.SkipTest("no bookworm source in apt's configuration")
    return found


class PackageChecks(unittest.TestCase):
    def test_lintian_finds_no_error_and_no_warning(self):
        result = subprocess.run(["lintian", "--fail-on", "error,warning", DEB],
                                capture_output=True, text=True, timeout=600)
        found = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
        self.assertEqual((result.returncode, found), (0, []), result.stdout + result.stderr)

    def test_metainfo_and_menu_entry_as_packaged(self):
        unpacked = tempfile.mkdtemp(prefix="zurodid-deb-")
        self.addCleanup(shutil.rmtree, unpacked, True)
        run(["dpkg-deb", "-x", DEB, unpacked])
        metainfo = glob.glob(os.path.join(unpacked, "usr/share/metainfo/*.metainfo.xml"))
        self.assertEqual(len(metainfo), 1, metainfo)
        run(["appstreamcli", "validate", "--no-net", "--pedantic", metainfo[0]])
        entry = os.path.join(unpacked, "usr/share/applications/zurodid-agent.desktop")
        installtest.validate_entry(self, entry)
        for page in ("zurodid-agent.1.gz", "zurodid-agent-setup.1.gz"):
            self.assertTrue(os.path.isfile(os.path.join(unpacked, "usr/share/man/man1", page)))


class Root:
    """A debootstrapped Debian 12. Its commands run chrooted in one mount namespace of their
    own, which holds its /proc and /dev/shm: they see one another's processes as one system
    does, and the mounts go with the namespace, never seen outside it."""

    def __init__(self, top):
        self.path = os.path.join(top, "root")
        sources = debian_sources()
        run(["debootstrap", "--variant=minbase", "bookworm", self.path, sources[0][0]],
            timeout=1800)
        # A user's system has the updates and security suites too.
        with open(self.host("/etc/apt/sources.list"), "w") as listing:
            listing.writelines(f"deb {uri} {suite} {components}\n"
                               for uri, suite, components in sources)
        mounts = ('mount -t proc proc "$0/proc" && mount -t tmpfs shm "$0/dev/shm" && '
                  'echo ready && exec sleep infinity')
        self.holder = subprocess.Popen(
            ["unshare", "--mount", "--propagation", "private", "--", "sh", "-c", mounts,
             self.path], stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        if self.holder.stdout.readline() != b"ready\n":
            raise AssertionError("could not mount /proc and /dev/shm in the root")

    def argv(self, *command):
        return ["nsenter", f"--mount=/proc/{self.holder.pid}/ns/mnt", "--", "chroot",
                self.path, *command]

    def run(self, *command, env=None, timeout=600):
        return run(self.argv(*command), env=env or self.env(), timeout=timeout)

    def env(self, **extra):
        env = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "HOME": "/root", "LANG": "C.UTF-8",
               "DEBIAN_FRONTEND": "noninteractive"}
        env.update(extra)
        return env

    def host(self, path):
        return self.path + path

    def files(self):
        found = set()
        for folder, dirs, files in os.walk(self.path):
            inside = folder[len(self.path):] or "/"
            dirs[:] = [d for d in dirs if os.path.join(inside, d) not in UNTRACKED]
            found.update(os.path.join(inside, name) for name in dirs + files
                         if os.path.join(inside, name) not in UNTRACKED)
        return found

    def remove(self):
        self.holder.kill()
        self.holder.wait()
        self.holder.stdout.close()
        # The mounts are in the namespace only; --one-file-system all the same.
        subprocess.run(["rm", "-rf", "--one-file-system", "--", self.path], check=False)


class InstalledInACleanDebian(unittest.TestCase):
    def setUp(self):
        if os.geteuid() != 0:
            self.skipTest("needs root: debootstrap, chroot and mounts in a namespace")
        self.work = tempfile.mkdtemp(prefix="zurodid-package-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.root = Root(self.work)
        self.addCleanup(self.root.remove)
        # GLib's launcher, a tool of the test: installed before the package, it adds nothing
        # the package could lean on (Qt's own dependencies hold GLib already).
        self.root.run("apt-get", "update", "-qq")
        self.root.run("apt-get", "install", "-y", "-qq", "--no-install-recommends",
                      "libglib2.0-bin")
        self.agent = self.root.host("/usr/bin/zurodid-agent")

    def agent_processes(self):
        """The live agents of the root, the diary reader each one made left out."""
        found = {}
        for entry in filter(str.isdigit, os.listdir("/proc")):
            with contextlib.suppress(OSError):
                if os.readlink(f"/proc/{entry}/exe") != self.agent:
                    continue
                with open(f"/proc/{entry}/stat") as stat:
                    state, parent = stat.read().rsplit(")", 1)[1].split()[:2]
                if state != "Z":
                    with open(f"/proc/{entry}/cmdline", "rb") as cmdline:
                        found[int(entry)] = (int(parent), cmdline.read().split(b"\0")[1:-1])
        return {pid: argv for pid, (parent, argv) in found.items() if parent not in found}

    def wait_agent_on_screen(self, screen, started=None):
        """The one agent's arguments, once its icon and its list window are up. An agent that
        cannot run (a library the package does not bring) ends at once, and says why."""
        desktop.poll(lambda: self.agent_processes() or (started and started.poll() is not None),
                     30, "the installed agent's process")
        if started and started.poll() is not None:
            with open(os.path.join(self.work, "nsenter.log"), errors="replace") as log:
                # (Its exit status is lost: the zombie collector may reap it first.)
                self.fail(f"the agent ended at once:\n{log.read()}")
        agents = self.agent_processes()
        self.assertEqual(len(agents), 1, agents)
        screen.wait_tray_icons(1, timeout=30)
        desktop.poll(lambda: [w for w in screen.windows(AGENT_TITLE)
                              if "DIALOG" not in screen.window_type(w)], 30, "the list window")
        return list(agents.values())

    def packages(self):
        return set(self.root.run("dpkg-query", "-W", "-f", "${Package}\\n").split())

    def make_diary_folder(self, path):
        os.makedirs(self.root.host(path))
        installtest.make_diary(self.root.host(path + "/Zurodid.mdb"))
        with open(self.root.host(path + "/Zurodid.ini"), "wb") as settings:
            settings.write(installtest.settings_text(startup_remind=1))

    def test_install_start_set_up_launch_and_purge(self):
        self.make_diary_folder("/srv/demo")
        self.make_diary_folder(THAI_FOLDER)
        before = self.root.files()
        packages_before = self.packages()
        shutil.copy(DEB, self.root.host("/tmp"))
        deb = "/tmp/" + os.path.basename(DEB)
        self.root.run("apt-get", "install", "-y", "-qq", "--no-install-recommends", deb)

        screen = desktop.Desktop(self.work, tray="trayer")
        self.addCleanup(screen.stop)
        screen.start()
        session = self.root.env(DISPLAY=screen.display, QT_QPA_PLATFORM="xcb",
                                XDG_RUNTIME_DIR="/tmp/runtime")
        os.makedirs(self.root.host("/tmp/runtime"), mode=0o700)

        with ZombieCollector():
            # The packaged agent, told its folder.
            agent = screen.spawn(self.root.argv("zurodid-agent", "--folder", "/srv/demo"),
                                 env=session)
            self.assertEqual(self.wait_agent_on_screen(screen, agent),
                             [[b"--folder", b"/srv/demo"]])
            agent.terminate()
            screen.wait_killed(agent)
            screen.wait_tray_icons(0, timeout=15)

            # The setup finds the diary in the wine prefix; the session starts the entry.
            output = self.root.run("zurodid-agent-setup", "--no-start", env=session)
            self.assertIn(THAI_FOLDER, output)
            autostart = "/root/.config/autostart/zurodid-agent.desktop"
            installtest.validate_entry(self, self.root.host(autostart))
            self.root.run("gio", "launch", autostart, env=session)
            self.assertEqual(self.wait_agent_on_screen(screen),
                             [[b"--folder", THAI_FOLDER.encode()]])

            output = self.root.run("zurodid-agent-setup", "--remove", env=session)
            self.assertIn("Ending the agent running from " + THAI_FOLDER, output)
            desktop.poll(lambda: not self.agent_processes(), 15, "the agent to end")
            screen.wait_tray_icons(0, timeout=15)

        self.root.run("apt-get", "purge", "-y", "-qq", "zurodid-agent")
        self.root.run("apt-get", "autoremove", "--purge", "-y", "-qq")
        # What autoremove keeps because a package of the root before recommends it
        # (shared-mime-info, for GLib) goes too, so that the root is compared as it was.
        kept = sorted(self.packages() - packages_before)
        if kept:
            self.root.run("apt-get", "purge", "-y", "-qq", *kept)
        self.maxDiff = None
        self.assertEqual(sorted(self.root.files() ^ before), [], "files the purge left or took")


if __name__ == "__main__":
    debs = [argument for argument in sys.argv[1:] if argument.endswith(".deb")]
    if len(debs) != 1 or not os.path.isfile(debs[0]):
        raise SystemExit("usage: test_package.py [unittest options] DEB")
    sys.argv.remove(debs[0])
    DEB = os.path.abspath(debs[0])
    unittest.main()
