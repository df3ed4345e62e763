"""The agent as a user installs it: its executable, settings and diary in one folder."""

import datetime
import glob
import math
import os
import shutil
import signal
import subprocess
import time

import desktop

# Every clocked test starts on this day; the diaries carry absolute dates of it.
FAKE_DAY = "2026-12-07"
LOGIN_TITLE = "Zurodid - (Password)"


def faketime_library():
    """The libfaketime that Debian's faketime package installs."""
    for found in sorted(glob.glob("/usr/lib/*/faketime/libfaketime.so.1") +
                        glob.glob("/usr/lib/faketime/libfaketime.so.1")):
        return found
    raise desktop.DesktopError("libfaketime.so.1 not found: install the faketime package")


def tool(variable):
    path = os.environ.get(variable)
    if not path or not os.access(path, os.X_OK):
        raise SystemExit(f"{variable} must name the built executable (got {path!r})")
    return path


def settings_text(startup_remind=0, anniversary_days=7, appointment_days=0, remind=0,
                  remind_minutes=0):
    """A settings file as the Windows agent writes it: code page text with CR LF."""
    lines = ["[Agent]", f"StartUpRemind={startup_remind}",
             f"AnniversaryStartUp={anniversary_days}",
             f"AppointmentStartUp={appointment_days}", f"Remind={remind}",
             f"AppointmentRemind={remind_minutes}"]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def diary_description(appointments=(), anniversaries=(), password=None):
    """make-diary's description: appointments as ("HH:MM", subject) today or
    (days, "HH:MM", subject); anniversaries as (days from today, title)."""
    lines = []
    if password is not None:
        lines.append(f"password {password}")
    lines.append("table Anniversary")
    for days, title in anniversaries:
        lines.append(f"row {_day(days)} | {_quoted(title)}")
    lines.append("table Appointment")
    for appointment in appointments:
        days, clock, subject = appointment if len(appointment) == 3 else (0, *appointment)
        lines.append(f"row {_day(days)} {clock} | {_quoted(subject)}")
    return "\n".join(lines) + "\n"


def _day(days):
    return (datetime.date.fromisoformat(FAKE_DAY) + datetime.timedelta(days=days)).isoformat()


def _quoted(text):
    return '"' + text.replace('"', '""') + '"'


class AgentFolder:
    """A temporary folder holding a copy of the agent, its settings and its diary."""

    def __init__(self, screen, folder):
        self.screen = screen
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        self.executable = os.path.join(folder, "zurodid-agent")
        shutil.copy2(tool("ZURODID_AGENT"), self.executable)
        self.process = None
        self.started_at = None

    @property
    def ini(self):
        return os.path.join(self.folder, "Zurodid.ini")

    @property
    def mdb(self):
        return os.path.join(self.folder, "Zurodid.mdb")

    def write_settings(self, **values):
        with open(self.ini, "wb") as out:
            out.write(settings_text(**values))

    def write_diary(self, **content):
        """Writes the diary beside the agent, replacing any earlier one in one step."""
        staged = self.mdb + ".new"
        subprocess.run([tool("ZURODID_MAKE_DIARY"), "-", staged], check=True,
                       input=diary_description(**content).encode(), timeout=30)
        os.replace(staged, self.mdb)

    def diary_bytes(self, **content):
        """The bytes of a diary as write_diary would write it, not written beside the agent."""
        staged = self.mdb + ".bytes"
        subprocess.run([tool("ZURODID_MAKE_DIARY"), "-", staged], check=True,
                       input=diary_description(**content).encode(), timeout=30)
        with open(staged, "rb") as made:
            data = made.read()
        os.remove(staged)
        return data

    def rewrite_in_place(self, versions, rng, page=2048, most_gap=0.015):
        """Saves each version over the diary in place, as the diary program does: pages in a
        random order with gaps of up to most_gap seconds, the file sometimes cut short first
        and grown again."""
        with open(self.mdb, "r+b") as diary:
            for data in versions:
                if rng.random() < 0.3:
                    diary.truncate(rng.randrange(len(data) // 2))
                    diary.flush()
                starts = list(range(0, len(data), page))
                rng.shuffle(starts)
                for start in starts:
                    os.pwrite(diary.fileno(), data[start:start + page], start)
                    time.sleep(rng.uniform(0, most_gap))
                diary.truncate(len(data))

    def mapped_font_files(self):
        """The font files the running agent has loaded (FreeType maps each face's file)."""
        with open(f"/proc/{self.process.pid}/maps") as maps:
            return sorted({line.split(None, 5)[5].strip() for line in maps
                           if "/fonts/" in line})

    def start(self, clock=None, movable=False):
        """Starts the agent; clock "HH:MM:SS" sets its wall clock on FAKE_DAY, running on.

        A movable clock is an offset from the real one kept in a file, which move_clock
        changes while the agent runs (a clock set, or the time a suspended machine slept)."""
        argv = [self.executable]
        env = self.screen.env(TZ="UTC")
        if clock:
            # libfaketime itself, not the faketime wrapper: the wrapper leaves a named
            # semaphore behind when it is killed, and a later wrapper that gets the same
            # process id then fails to start ("sem_open: File exists").
            env["LD_PRELOAD"] = faketime_library()
            if movable:
                target = datetime.datetime.fromisoformat(f"{FAKE_DAY} {clock}").replace(
                    tzinfo=datetime.timezone.utc)
                self.clock_offset = round(target.timestamp() - time.time())
                self.clock_file = os.path.join(os.path.dirname(self.folder), "clock.rc")
                self._write_clock()
                env["FAKETIME_TIMESTAMP_FILE"] = self.clock_file
                env["FAKETIME_NO_CACHE"] = "1"
            else:
                env["FAKETIME"] = f"@{FAKE_DAY} {clock}"
            # Qt's timers keep the real monotonic clock.
            env["FAKETIME_DONT_FAKE_MONOTONIC"] = "1"
        self.started_at = time.time()
        self.process = self.screen.spawn(argv, env=env, cwd="/")
        return self.process

    def _write_clock(self):
        staged = self.clock_file + ".new"
        with open(staged, "w", encoding="ascii") as out:
            out.write(f"{self.clock_offset:+d}\n")
        os.replace(staged, self.clock_file)

    def move_clock(self, seconds):
        """Moves a movable clock by `seconds` (forward when positive).

        A clock moved through libfaketime reaches no timer of the kernel: the signal of a
        continued process stands in for the kernel's notice of a clock set."""
        self.clock_offset += seconds
        self._write_clock()
        if self.alive():
            os.kill(self.process.pid, signal.SIGCONT)

    def fake_now(self):
        """The movable clock as the agent reads it now."""
        return datetime.datetime.fromtimestamp(time.time() + self.clock_offset,
                                               datetime.timezone.utc)

    def most_seconds_on_clock(self):
        """How far at most the agent's clock has run since the time it was started at.

        faketime starts the clock when the program starts, counting from a whole second of
        the real clock, so the clock may be up to a second ahead of our own count."""
        return time.time() - math.floor(self.started_at)

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout=10):
        return desktop.poll(lambda: self.process.poll() is not None, timeout,
                            "the agent to end") and self.process.returncode
