"""scripts/install in a throw-away home, with no display: what it finds, what it puts where,
that a second run changes nothing, and that --remove leaves the home as it was."""

import os
import shutil
import subprocess
import tempfile
import unittest

import installtest
from installtest import Home, file_hash, validate_entry


class InstallTestCase(unittest.TestCase):
    def setUp(self):
        self.home = Home()
        self.addCleanup(self.home.remove)

    def assert_installed(self, folder):
        agent = os.path.join(folder, "zurodid-agent")
        self.assertEqual(file_hash(agent),
                         file_hash(os.path.join(installtest.build_dir(), "zurodid-agent")))
        self.assertTrue(os.access(agent, os.X_OK))
        for entry in (self.home.menu_entry, self.home.autostart_entry):
            validate_entry(self, entry)
        for size in (16, 22, 24, 32, 48, 64, 128, 256):
            icon = os.path.join(self.home.data, "icons", "hicolor", f"{size}x{size}", "apps",
                                "zurodid-agent.png")
            with open(icon, "rb") as png:
                header = png.read(24)
            self.assertEqual(header[:8], b"\x89PNG\r\n\x1a\n", icon)
            self.assertEqual((int.from_bytes(header[16:20], "big"),
                              int.from_bytes(header[20:24], "big")), (size, size), icon)


class FindsTheDiary(InstallTestCase):
    def test_the_one_diary_under_the_prefix_is_used(self):
        folder = self.home.diary_folder()
        status, output = self.home.install()
        self.assertEqual(status, 0, output)
        self.assertIn(folder, output)
        self.assert_installed(folder)
        self.assertIn("No display here", output)

    def test_no_diary_asks_for_the_folder_and_changes_nothing(self):
        before = self.home.snapshot()
        status, output = self.home.install()
        self.assertEqual(status, 1, output)
        self.assertIn("no Zurodid.mdb under", output)
        self.assertIn("scripts/install FOLDER", output)
        self.assertEqual(self.home.snapshot(), before)

    def test_two_diaries_are_listed_and_nothing_changes(self):
        first = self.home.diary_folder()
        second = self.home.diary_folder(os.path.join("drive_c", "Zurodid"))
        before = self.home.snapshot()
        status, output = self.home.install()
        self.assertEqual(status, 1, output)
        self.assertIn(os.path.join(first, "Zurodid.mdb"), output)
        self.assertIn(os.path.join(second, "Zurodid.mdb"), output)
        self.assertIn("scripts/install FOLDER", output)
        self.assertEqual(self.home.snapshot(), before)

    def test_no_prefix_asks_for_the_folder(self):
        status, output = self.home.install(
            env=self.home.env(WINEPREFIX=os.path.join(self.home.top, "nowhere")))
        self.assertEqual(status, 1, output)
        self.assertIn("no wine prefix", output)

    def test_a_named_folder_without_diary_is_taken_with_a_warning(self):
        folder = self.home.diary_folder(os.path.join("drive_c", "Empty"), diary=False)
        status, output = self.home.install(folder)
        self.assertEqual(status, 0, output)
        self.assertIn("Warning: there is no Zurodid.mdb", output)
        self.assert_installed(folder)

    def test_a_folder_that_does_not_exist_is_refused(self):
        status, output = self.home.install(os.path.join(self.home.top, "missing"))
        self.assertEqual(status, 1, output)
        self.assertIn("no such folder", output)


class AgainAndAway(InstallTestCase):
    def test_second_install_changes_nothing_and_remove_restores_the_home(self):
        folder = self.home.diary_folder()
        ini = os.path.join(folder, "Zurodid.ini")
        with open(ini, "wb") as settings:
            settings.write(installtest.settings_text(startup_remind=1))
        before = self.home.snapshot()

        self.assertEqual(self.home.install("--no-start")[0], 0)
        installed = self.home.snapshot()
        status, output = self.home.install("--no-start")
        self.assertEqual(status, 0, output)
        self.assertIn("every file was in place already", output)
        self.assertEqual(self.home.snapshot(), installed)

        status, output = self.home.install("--remove")
        self.assertEqual(status, 0, output)
        self.assertEqual(self.home.snapshot(), before)

    def test_awkward_folder_names_install_and_remove_cleanly(self):
        for case, name in {"percent_and_quotes": '100% "sure"',
                           "backslash_dollar_backtick": "back\\slash $x `y`",
                           "tab_and_newline": "tab\there\nnewline"}.items():
            with self.subTest(case):
                folder = self.home.diary_folder(os.path.join("drive_c", name))
                before = self.home.snapshot()
                status, output = self.home.install("--no-start", folder)
                self.assertEqual(status, 0, output)
                self.assert_installed(folder)
                status, output = self.home.install("--remove", folder)
                self.assertEqual(status, 0, output)
                self.assertEqual(self.home.snapshot(), before)

    def test_remove_keeps_entries_that_start_the_agent_of_another_folder(self):
        first = self.home.diary_folder(os.path.join("drive_c", "First"))
        second = self.home.diary_folder(os.path.join("drive_c", "Second"))
        self.assertEqual(self.home.install("--no-start", first)[0], 0)
        self.assertEqual(self.home.install("--no-start", second)[0], 0)
        entries = {path: file_hash(path)
                   for path in (self.home.menu_entry, self.home.autostart_entry)}

        status, output = self.home.install("--remove", first)
        self.assertEqual(status, 0, output)
        self.assertIn("it starts the agent of another folder", output)
        self.assertFalse(os.path.exists(os.path.join(first, "zurodid-agent")))
        self.assertEqual({path: file_hash(path) for path in entries}, entries)
        self.assert_installed(second)

    def test_a_folder_name_no_entry_can_hold_changes_nothing(self):
        folder = os.path.join(self.home.prefix.encode(), b"drive_c", b"\xff\xfe")
        os.makedirs(folder)
        before = self.home.snapshot()
        status, output = self.home.install("--no-start", folder.decode(errors="surrogateescape"))
        self.assertEqual(status, 1, output)
        self.assertIn("not UTF-8", output)
        self.assertEqual(self.home.snapshot(), before)

    def test_an_agent_that_ends_at_once_is_reported_not_claimed_started(self):
        # A build whose agent cannot run: a stand-in that says why and ends.
        build = os.path.join(self.home.top, "build")
        os.makedirs(os.path.join(build, "tools", "desktop-entry"))
        real = installtest.build_dir()
        for part in ("tools/desktop-entry/desktop-entry", "icons"):
            os.symlink(os.path.join(real, part), os.path.join(build, part))
        with open(os.path.join(build, "zurodid-agent"), "w") as stand_in:
            stand_in.write("#!/bin/sh\necho 'no display for the agent' >&2\nexit 3\n")
        os.chmod(os.path.join(build, "zurodid-agent"), 0o755)
        self.home.diary_folder()

        result = subprocess.run([installtest.INSTALL, "--build-dir", build],
                                env=self.home.env(DISPLAY=":0"), capture_output=True, text=True,
                                timeout=120, stdin=subprocess.DEVNULL)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertIn("no display for the agent", result.stderr)
        self.assertIn("the agent ended at once (exit status 3)", result.stderr)
        self.assertNotIn("Started the agent", result.stdout)


class IgnoresTheCallersShell(InstallTestCase):
    def test_cdpath_bash_env_functions_and_ifs_do_not_steer_it(self):
        work = os.path.join(self.home.top, "work")
        decoy = os.path.join(self.home.top, "decoy")
        os.makedirs(os.path.join(work, "diary"))
        installtest.make_diary(os.path.join(work, "diary", "Zurodid.mdb"))
        os.makedirs(os.path.join(decoy, "diary"))
        bash_env = os.path.join(self.home.top, "bash_env")
        with open(bash_env, "w") as script:
            script.write(f"CDPATH={decoy}\n"
                         "IFS=/\n"
                         "cd() { builtin cd \"$@\" && echo \"moved\"; }\n"
                         "shopt -s expand_aliases\n"
                         "alias mkdir='echo no mkdir'\n")
        cases = [
            ("CDPATH", {"CDPATH": decoy}),
            ("CDPATH holding the empty name last", {"CDPATH": decoy + ":"}),
            ("an echoing cd exported", {"BASH_FUNC_cd%%": '() { builtin cd "$@" && echo moved; }'}),
            ("a BASH_ENV file", {"BASH_ENV": bash_env}),
        ]
        for name, extra in cases:
            with self.subTest(name):
                status, output = self.home.install(
                    "diary", env=self.home.env(**extra), cwd=work)
                self.assertEqual(status, 0, output)
                self.assert_installed(os.path.join(work, "diary"))
                self.assertEqual(os.listdir(os.path.join(decoy, "diary")), [], output)
                self.assertNotIn("moved", output)
                status, output = self.home.install(
                    "--remove", os.path.join(work, "diary"), env=self.home.env(**extra))
                self.assertEqual(status, 0, output)


class TouchesNeitherDiaryNorSettings(InstallTestCase):
    def test_diary_and_settings_keep_their_bytes_and_times(self):
        folder = self.home.diary_folder()
        ini = os.path.join(folder, "Zurodid.ini")
        with open(ini, "wb") as settings:
            settings.write(b"[Agent]\r\nStartUpRemind=1\r\n; hand-written\r\n")
        kept = {path: (file_hash(path), os.stat(path).st_mtime_ns)
                for path in (ini, os.path.join(folder, "Zurodid.mdb"))}
        for args in (("--no-start",), ("--no-start",), ("--remove",)):
            status, output = self.home.install(*args)
            self.assertEqual(status, 0, output)
            self.assertEqual({path: (file_hash(path), os.stat(path).st_mtime_ns)
                              for path in kept}, kept, args)


class CMakeInstallForPackagers(unittest.TestCase):
    def cmake_install(self, prefix, stage=None):
        env = dict(os.environ, DESTDIR=stage) if stage else None
        result = subprocess.run(
            [os.environ.get("ZURODID_CMAKE", "cmake"), "--install", installtest.build_dir(),
             "--prefix", prefix], env=env, capture_output=True, text=True, timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr)

    def test_programs_icons_entry_metainfo_and_manuals_under_the_prefix(self):
        stage = tempfile.mkdtemp(prefix="zurodid-cmake-install-")
        self.addCleanup(shutil.rmtree, stage, True)
        prefix = "/opt/zurodid agent"
        self.cmake_install(prefix, stage)

        root = stage + prefix
        installed = sorted(os.path.relpath(os.path.join(folder, name), root)
                           for folder, _, files in os.walk(root) for name in files)
        self.assertEqual(installed, sorted(
            ["bin/zurodid-agent", "bin/zurodid-agent-setup",
             "libexec/zurodid-agent/desktop-entry", "share/applications/zurodid-agent.desktop",
             "share/metainfo/org.example.zurodid.agent.metainfo.xml",
             "share/man/man1/zurodid-agent.1", "share/man/man1/zurodid-agent-setup.1"] +
            [f"share/icons/hicolor/{n}x{n}/apps/zurodid-agent.png"
             for n in (16, 22, 24, 32, 48, 64, 128, 256)]))
        entry = os.path.join(root, "share/applications/zurodid-agent.desktop")
        validate_entry(self, entry)
        with open(entry, encoding="utf-8") as text:
            lines = text.read().splitlines()
        # The menu entry runs the setup where it runs, not where it was staged; the setup
        # writes the user's own entries, which take its place.
        self.assertIn(f'Exec="{prefix}/bin/zurodid-agent-setup"', lines)
        self.assertIn(f"TryExec={prefix}/bin/zurodid-agent-setup", lines)

    def test_setup_command_starts_the_installed_agent_for_the_diary_at_log_in(self):
        home = Home()
        self.addCleanup(home.remove)
        prefix = os.path.join(home.top, "prefix")
        self.cmake_install(prefix)
        setup = os.path.join(prefix, "bin", "zurodid-agent-setup")
        folder = home.diary_folder()
        before = home.snapshot()

        def run(*args):
            result = subprocess.run([setup, *args], env=home.env(), capture_output=True,
                                    text=True, timeout=60, stdin=subprocess.DEVNULL)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            return result.stdout

        self.assertIn(folder, run())
        for entry in (home.menu_entry, home.autostart_entry):
            validate_entry(self, entry)
            with open(entry, encoding="utf-8") as text:
                self.assertIn(f'Exec={prefix}/bin/zurodid-agent --folder "{folder}"',
                              text.read().splitlines())
        self.assertIn("every file was in place already", run("--no-start", folder))
        run("--remove")
        self.assertEqual(home.snapshot(), before)

        # A diary's folder that is gone: its entries can still be removed by its name.
        run("--no-start", folder)
        shutil.rmtree(folder)
        run("--remove", folder)
        self.assertFalse(os.path.exists(home.autostart_entry))
        self.assertFalse(os.path.exists(home.menu_entry))


if __name__ == "__main__":
    unittest.main()
