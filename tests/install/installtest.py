"""What the install tests share: a throw-away home with a wine prefix, scripts/install run in
it, and a picture of the home to compare before and after."""

import hashlib
import os
import shutil
import stat
import subprocess
import tempfile

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
INSTALL = os.path.join(ROOT, "scripts", "install")
DIARY_FOLDER = os.path.join("drive_c", "Program Files", "ไดอารี่ Zurodid")


def build_dir():
    path = os.environ.get("ZURODID_BUILD_DIR", "")
    if not os.access(os.path.join(path, "zurodid-agent"), os.X_OK):
        raise SystemExit(f"ZURODID_BUILD_DIR must name a build with the agent (got {path!r})")
    return path


def make_diary(path, description="table Anniversary\ntable Appointment\n"):
    tool = os.path.join(build_dir(), "tools", "make-diary", "make-diary")
    subprocess.run([tool, "-", path], input=description.encode(), check=True, timeout=30)


def settings_text(startup_remind):
    lines = ["[Agent]", f"StartUpRemind={startup_remind}", "AnniversaryStartUp=7",
             "AppointmentStartUp=0", "Remind=0", "AppointmentRemind=0"]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


class Home:
    """A temporary home: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME and WINEPREFIX all inside it."""

    def __init__(self):
        self.top = tempfile.mkdtemp(prefix="zurodid-install-")
        self.path = os.path.join(self.top, "home")
        self.config = os.path.join(self.path, ".config")
        self.data = os.path.join(self.path, ".local", "share")
        self.prefix = os.path.join(self.path, ".wine")
        for folder in (self.config, self.data, os.path.join(self.prefix, "drive_c")):
            os.makedirs(folder)

    def remove(self):
        shutil.rmtree(self.top, ignore_errors=True)

    def env(self, base=None, **extra):
        env = dict(os.environ if base is None else base)
        for key in ("DISPLAY", "WAYLAND_DISPLAY") if base is None else ():
            env.pop(key, None)
        env.update(HOME=self.path, XDG_CONFIG_HOME=self.config, XDG_DATA_HOME=self.data,
                   WINEPREFIX=self.prefix)
        env.update(extra)
        return env

    def diary_folder(self, relative=DIARY_FOLDER, diary=True):
        folder = os.path.join(self.prefix, relative)
        os.makedirs(folder, exist_ok=True)
        if diary:
            make_diary(os.path.join(folder, "Zurodid.mdb"))
        return folder

    @property
    def menu_entry(self):
        return os.path.join(self.data, "applications", "zurodid-agent.desktop")

    @property
    def autostart_entry(self):
        return os.path.join(self.config, "autostart", "zurodid-agent.desktop")

    def install(self, *args, env=None, output=None, cwd=None):
        """Runs scripts/install with the given arguments; returns (exit status, its output)."""
        argv = [INSTALL, "--build-dir", build_dir(), *args]
        if "--remove" in args:
            argv = [INSTALL, *args]
        with tempfile.TemporaryFile() as log:
            # A file, not a pipe: an agent it starts keeps the output open.
            status = subprocess.run(argv, env=env or self.env(), stdin=subprocess.DEVNULL,
                                    stdout=log, stderr=subprocess.STDOUT, timeout=120,
                                    cwd=cwd).returncode
            log.seek(0)
            text = log.read().decode("utf-8", "replace")
        if output is not None:
            output.append(text)
        return status, text

    def snapshot(self):
        """Every entry under the home: kind, mode and, for files, size, time and content."""
        found = {}
        for folder, dirs, files in os.walk(self.path):
            for name in dirs + files:
                path = os.path.join(folder, name)
                info = os.lstat(path)
                if stat.S_ISDIR(info.st_mode):
                    found[path] = ("dir", stat.S_IMODE(info.st_mode))
                elif stat.S_ISLNK(info.st_mode):
                    found[path] = ("link", os.readlink(path))
                else:
                    found[path] = ("file", stat.S_IMODE(info.st_mode), info.st_mtime_ns,
                                   file_hash(path))
        return found


def file_hash(path):
    with open(path, "rb") as data:
        return hashlib.sha256(data.read()).hexdigest()


def validate_entry(test, path):
    result = subprocess.run(["desktop-file-validate", path], capture_output=True, text=True,
                            timeout=30)
    test.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""),
                     f"desktop-file-validate {path}")


def without(snapshot, *paths):
    return {path: value for path, value in snapshot.items() if path not in paths}
