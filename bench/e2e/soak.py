#!/usr/bin/python3
"""Days of running: the release agent on a private X desktop with a tray, its clock sped up
through libfaketime and moved while it runs, closing the reminder boxes as they come (some
only after minutes) and checking them against the boxes that the diary, the settings and the
events call for.

  bench/e2e/soak.py [BUILD_DIR] [--hours H] [--rate R] [--tz ZONE] [--start "[DAY] HH:MM"]

BUILD_DIR holds zurodid-agent and tools/make-diary/make-diary (default build/release). The
simulated run starts on 2026-10-24 at 00:25 (or --start, DAY counted from 0, to look at one
event in a short run) in --tz (default Europe/Berlin, whose clocks go back an hour on
2026-10-25 at 03:00) and lasts --hours of the clock (default 75: past three midnights, so
that each midnight event below is in the run). The clock runs --rate times as fast as the
real one (default 100). The agent's timer sleeps until the simulated minute in which a
reminder can be due (libfaketime scales its wall-clock alarm), and ticks once a real second,
give or take 5 %, while boxes come one after another: at 100, every 95 to 105 simulated
seconds, within every advance reminder's lead (3 or 4 minutes). Every gap around the events
below is wider than that, so no box expected depends on where the ticks fall; the rate must
stay at 120 or below for that.

The diary holds about a hundred appointments a day, 14 minutes apart, and the rows of the
events; settings AppointmentStartUp=0, Remind=1, AppointmentRemind=3. The diary is replaced by
rename (as the diary program saves) four times, each version moving later days'
appointments; Options is used once, on the second day, setting AppointmentStartUp=2 and
AppointmentRemind=4. Events (the clock is moved through FAKETIME_TIMESTAMP_FILE):
  - a row passed at start-up (raises nothing);
  - an on-time box left open 25 minutes across three appointments, and an advance box left
    open 23 minutes across its own appointment and two more;
  - two suspends (SIGSTOP, the clock moved on, SIGCONT), one across two appointments and one
    across midnight;
  - the fall back of daylight saving time, with appointments in the hour that comes twice;
  - 200 rows at one midnight, 10 of them identical;
  - the clock set back 12 minutes across midnight, over rows on both sides of it;
  - no diary when the agent starts: it comes 20 minutes later, after two appointments' minutes
    (the first read fails across them);
  - the diary taken away for an hour across a midnight (the new day's read fails meanwhile);
    the agent's wake-ups in that hour are reported;
  - advance reminders switched off with Options and on again, the timer asleep in between,
    after the advance minute of the appointment that follows.

Boxes expected, computed here from the rules of the reminder timer, not from its code:
  - A list is filled at start-up, at Refresh (not used here) and at the first tick of a new
    day. Each row of it owes an on-time reminder in its minute (critical box, "HH:MM :
    subject") and, when Remind=1, an advance one AppointmentRemind minutes before
    (information box) when that minute is on the row's own day. Reminders whose minute had
    passed when the list was filled at start-up or Refresh are not owed; for a new day's
    list, they are owed from the minute of the last tick before the day changed (a sleep
    across midnight loses nothing). A read that fails changes none of this: what it would
    have owed is owed once a read succeeds.
  - Advance reminders switched on again are owed from that minute on: those whose minute came
    while they were off are not.
  - A reminder whose minute came while it could not be shown (a box open, the process
    stopped, the clock moved on, many rows in one minute) is shown as soon as it can be, once.
    An advance reminder is shown late only while its appointment's minute has not come;
    otherwise the on-time box covers it and it is dropped.
  - Boxes come one at a time: per tick at most one on-time box, then at most one advance box;
    among due ones, those carried over from a replaced list first, then list order.
  - A reminder shown is not shown again that day, whatever the clock does or whatever
    rebuilds the list; a row is known by (date, time, subject), identical rows count one by
    one.
So every owed box is seen once, each kind in the order of its minute (then list order), none
early, and those not held up by an event within a few minutes of their minute.

Reported: boxes expected and seen, each one missing, duplicated or out of order; resident
memory and open descriptors of the agent sampled over the run; child processes left; CPU time.
Exit status 0 when the boxes match, memory and descriptors do not grow after the first day
and the first use of Options (by less than 1 MB), and nothing is left running.
"""

import argparse
import collections
import datetime
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import zoneinfo

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import agentfolder  # noqa: E402
import desktop  # noqa: E402
import idle_footprint  # noqa: E402
from test_agent import (OPTION_APPOINTMENT, OPTION_MINUTES, OPTION_OK,  # noqa: E402
                        OPTION_REMIND)

TITLE = desktop.AGENT_TITLE
FIRST_DAY = datetime.date(2026, 10, 24)
START = "00:25"
LEAD_BEFORE, LEAD_AFTER = 3, 4
SAMPLE_SECONDS = 20  # real seconds between memory samples
MINUTE = 60
# Boxes due this close to the end of the run may or may not come before it ends.
END_SLACK = 5 * MINUTE
# Our estimate of the agent's clock is good to a real second; a box not held up by an event
# comes within a tick and the closing of the box before it.
EARLY_SLACK, LATE_SLACK = 2 * MINUTE, 8 * MINUTE

# (day of the run, "HH:MM"): when the diary is replaced, and when Options is used; in gaps of
# the diary, away from the events.
REPLACEMENTS = [(0, "10:07"), (1, "03:33"), (1, "18:18"), (2, "09:09")]
OPTIONS_AT = (1, "12:10")

# Stretches (day, "HH:MM", "HH:MM") without the regular appointments: around the events, so
# that no box depends on the phase of the ticks.
QUIET = [(0, "00:00", "01:00"), (0, "08:40", "09:55"), (0, "14:40", "15:55"),
         (0, "17:30", "18:50"), (0, "23:30", "24:00"), (1, "00:00", "00:45"),
         (1, "01:50", "03:20"), (1, "11:50", "12:50"), (1, "23:30", "24:00"),
         (2, "00:00", "16:00"), (2, "23:30", "24:00"), (3, "00:00", "00:40")]
# The events' own rows: (day, "HH:MM", subject, count).
EVENT_ROWS = [(0, "00:10", "Passed at start", 1),
              (0, "09:00", "Held on time", 1), (0, "09:06", "Under the held box", 1),
              (0, "09:12", "Under the held box", 1), (0, "09:18", "Under the held box", 1),
              (0, "15:00", "Held in advance", 1), (0, "15:06", "Under the held box", 1),
              (0, "15:12", "Under the held box", 1),
              (0, "18:00", "Asleep", 1), (0, "18:08", "Asleep", 1),
              (0, "23:55", "Asleep over midnight", 1), (1, "00:05", "Asleep over midnight", 1),
              (1, "00:12", "Asleep over midnight", 1),
              (1, "02:10", "Hour that comes twice", 1), (1, "02:30", "Hour that comes twice", 1),
              (1, "02:50", "Hour that comes twice", 1),
              (2, "23:48", "Before the clock goes back", 1),
              (3, "00:00", "After midnight, then before it", 1),
              (3, "00:02", "After midnight, then before it", 1),
              (0, "00:30", "Before the diary came", 1), (0, "00:40", "Before the diary came", 1),
              (2, "13:00", "Advance minute while off", 1), (2, "13:10", "Advance after on", 1)]
BURST = (2, "00:00", 190, 10)  # day, minute, distinct rows, identical rows after them
# A box left open: (kind, text) held until (day, "HH:MM").
HOLDS = [("critical", "09:00 : Held on time", (0, "09:25")),
         ("information", "15:00 : Held in advance", (0, "15:20"))]
# Process stopped at the first, clock moved on to the second.
SUSPENDS = [((0, "17:45"), (0, "18:20")), ((0, "23:45"), (1, "00:20"))]
# The clock set from the first to the second.
CLOCK_SETS = [((3, "00:10"), (2, "23:58"))]
# No diary at start: it comes then.
DIARY_COMES = (0, "00:45")
# The diary taken away at the first and brought back at the second.
DIARY_GONE = ((1, "23:50"), (2, "00:50"))
# Advance reminders switched off at the first with Options, on again at the second.
REMIND_OFF = ((2, "12:40"), (2, "12:58"))


class Clock:
    """Local times of the run's days in its time zone, as epoch seconds."""

    def __init__(self, zone):
        self.zone = zoneinfo.ZoneInfo(zone)

    def at(self, day, clock):
        """Of a wall time that comes twice, the first."""
        local = datetime.datetime.combine(FIRST_DAY + datetime.timedelta(days=day),
                                          datetime.time.fromisoformat(clock),
                                          tzinfo=self.zone)
        return local.timestamp()

    def local(self, epoch):
        return datetime.datetime.fromtimestamp(epoch, self.zone)

    def text(self, epoch):
        return f"{self.local(epoch):%Y-%m-%d %H:%M %Z}"


def minutes(clock):
    hours, mins = clock.split(":")
    return int(hours) * 60 + int(mins)


def clock_text(minute):
    return f"{minute // 60:02d}:{minute % 60:02d}"


def appointments_of(version, days):
    """(date, minute, subject) of diary version `version` over `days`, in list order. Every
    version moves the regular appointments of the days after its replacement by a few minutes
    and renames them, so that what is seen tells which version the agent read."""
    rows = []
    for index in range(days):
        day = FIRST_DAY + datetime.timedelta(days=index)
        quiet = [(minutes(a), minutes(b)) for d, a, b in QUIET if d == index]
        changed = sum(1 for when_day, _ in REPLACEMENTS[:version] if when_day < index)
        of_day = []
        for n, minute in enumerate(range(20, 23 * 60 + 50, 14)):  # 00:20 to 23:48
            if any(a <= minute < b for a, b in quiet):
                continue
            if changed and n % 5 == 0:
                minute += changed  # later by a minute for each version that moved it
            of_day.append((minute, f"Soak {day.isoformat()} v{changed} #{n}"))
        for d, clock, subject, count in EVENT_ROWS:
            if d == index:
                of_day += [(minutes(clock), subject)] * count
        if BURST[0] == index:
            of_day += [(minutes(BURST[1]), f"Burst {n:03d}") for n in range(BURST[2])]
            of_day += [(minutes(BURST[1]), "Burst twin")] * BURST[3]
        # Stable: rows of one minute keep the order they are written in.
        rows += [(day, minute, subject) for minute, subject in
                 sorted(of_day, key=lambda row: row[0])]
    return rows


def diary_description(rows):
    lines = ["table Anniversary", "table Appointment"]
    for day, minute, subject in rows:
        lines.append(f"row {day.isoformat()} {clock_text(minute)} | {subject}")
    return "\n".join(lines) + "\n"


def version_at(clock, epoch):
    return sum(1 for d, t in REPLACEMENTS if clock.at(d, t) <= epoch)


def blocked_stretches(clock):
    """When no box can be shown: a held box is open, or the process is stopped (its clock
    jumps from the stop to the resume)."""
    stretches = []
    for kind, text, until in HOLDS:
        day = until[0]
        shown = clock.at(day, text[:5])
        if kind == "information":
            shown -= LEAD_BEFORE * MINUTE if clock.at(day, text[:5]) - LEAD_BEFORE * MINUTE \
                < clock.at(*OPTIONS_AT) else LEAD_AFTER * MINUTE
        stretches.append((shown, clock.at(*until)))
    for stop, resume in SUSPENDS + [DIARY_GONE]:
        stretches.append((clock.at(*stop), clock.at(*resume)))
    return stretches


def expected_boxes(clock, start, end, days):
    """(kind, text, due epoch, late) of every box the run calls for, in the order each kind
    must come; and the boxes due too near the end to be sure of."""
    options_at = clock.at(*OPTIONS_AT)
    stretches = blocked_stretches(clock)
    if start < clock.at(*DIARY_COMES):
        stretches.append((start, clock.at(*DIARY_COMES)))
    remind_off = (clock.at(*REMIND_OFF[0]), clock.at(*REMIND_OFF[1]))
    # The first fill of each day: start-up, else midnight (a new day's list is owed from the
    # last tick before the day changed, so a later first tick changes nothing).
    boxes, near_end = [], []
    index = 0
    while clock.at(index, "00:00") < end:
        filled = max(start, clock.at(index, "00:00"))
        floor = filled
        rows = [(minute, subject) for day, minute, subject
                in appointments_of(version_at(clock, filled), days)
                if day == FIRST_DAY + datetime.timedelta(days=index)]
        for order, (minute, subject) in enumerate(rows):
            due = clock.at(index, clock_text(minute))
            lead = LEAD_BEFORE if due - LEAD_BEFORE * MINUTE < options_at else LEAD_AFTER
            text = f"{clock_text(minute)} : {subject}"
            for kind, at in (("critical", due), ("information", due - lead * MINUTE)):
                if at < floor or at >= end or clock.local(at).date() != clock.local(due).date():
                    continue
                if kind == "information" and remind_off[0] <= at < remind_off[1]:
                    continue
                # (The held box itself opens its stretch.)
                held = next(((a, b) for a, b in stretches if a < at < b), None)
                if kind == "information" and held and held[1] >= due:
                    continue  # its appointment came first: the on-time box covers it
                if kind == "information" and held:
                    raise SystemExit(f"{text}: shown late or not by the phase of the ticks")
                late = bool(held) or (index, clock_text(minute)) == BURST[:2]
                box = (kind, text, at, late, order)
                (near_end if at >= end - END_SLACK else boxes).append(box)
        index += 1
    boxes.sort(key=lambda box: (box[2], box[4]))
    return [box[:4] for box in boxes], [box[:4] for box in near_end]


def _children_of(pid):
    children = []
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/children") as listed:
            children += [int(child) for child in listed.read().split()]
    return children


def _cpu_of(pid, tick):
    """Its own CPU time and that of the children it has waited for."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / tick, (int(fields[13]) + int(fields[14])) / tick


def proc_figures(pid):
    """The agent's figures. Its reading children are forked by its diary reader (a child
    made at its start that runs the same file and lives as long as it does), so they are
    counted one generation down, and their CPU time is in the reader's."""
    with open(f"/proc/{pid}/status") as status:
        values = dict(line.split(":", 1) for line in status if ":" in line)
    tick = os.sysconf("SC_CLK_TCK")
    own, waited = _cpu_of(pid, tick)
    exe = os.readlink(f"/proc/{pid}/exe")
    reading = 0
    for child in _children_of(pid):
        try:
            if os.readlink(f"/proc/{child}/exe") == exe:
                reader_own, reader_waited = _cpu_of(child, tick)
                waited += reader_own + reader_waited
                reading += len(_children_of(child))
                continue
        except OSError:
            pass
        reading += 1
    return dict(rss=int(values["VmRSS"].split()[0]) / 1024,
                fds=len(os.listdir(f"/proc/{pid}/fd")),
                cpu=own, cpu_children=waited, children=reading)


class Soak:
    def __init__(self, screen, agent, clock, start, rate, work):
        self.screen, self.agent, self.clock, self.rate = screen, agent, clock, rate
        self.seen, self.samples, self.events, self.box_seconds = [], [], [], []
        self.clock_file = os.path.join(work, "clock.rc")
        self.anchor = (None, start)  # (real time, the agent's clock then)
        self.holds = {(kind, text): clock.at(*until) for kind, text, until in HOLDS}
        self.process = None
        self.last_closed = start
        self.gone_from = None  # (agent's clock, wake-ups) when the diary was taken away
        self.gone_wakes = None  # (wake-ups, simulated minutes) while it was away

    def now(self):
        """The agent's clock (epoch seconds), as far as the real time since its last setting
        tells."""
        real, fake = self.anchor
        return fake + (time.time() - real) * self.rate

    def set_clock(self, epoch):
        """The agent's clock jumps to epoch when it next reads it, and runs on from there."""
        staged = self.clock_file + ".new"
        with open(staged, "w", encoding="ascii") as out:
            # libfaketime reads a local time of the agent's zone.
            out.write(f"@{self.clock.local(epoch):%Y-%m-%d %H:%M:%S} x{self.rate}\n")
        os.replace(staged, self.clock_file)

    def run(self, end, days):
        self.set_clock(self.anchor[1])
        env = self.screen.env(TZ=self.clock.zone.key, LD_PRELOAD=agentfolder.faketime_library(),
                              FAKETIME_TIMESTAMP_FILE=self.clock_file, FAKETIME_NO_CACHE="1",
                              FAKETIME_DONT_FAKE_MONOTONIC="1")
        # faketime counts from the whole second of the real clock in which the program starts.
        self.anchor = (float(int(time.time())), self.anchor[1])
        process = self.process = self.screen.spawn([self.agent.executable], env=env, cwd="/")
        self.agent.process = process
        self.screen.wait_tray_icons(1, timeout=60)
        at = self.clock.at
        pending = [(at(d, t), "replace", n + 1) for n, (d, t) in enumerate(REPLACEMENTS)]
        pending.append((at(*OPTIONS_AT), "options", None))
        pending += [(at(*stop), "suspend", at(*resume)) for stop, resume in SUSPENDS]
        pending += [(at(*when), "set clock", at(*to)) for when, to in CLOCK_SETS]
        pending += [(at(*DIARY_COMES), "diary comes", None), (at(*DIARY_GONE[0]), "diary gone",
                                                               None),
                    (at(*DIARY_GONE[1]), "diary back", None),
                    (at(*REMIND_OFF[0]), "remind", 0), (at(*REMIND_OFF[1]), "remind", 1)]
        pending = sorted(event for event in pending if self.now() < event[0] < end)
        next_sample = 0.0
        while self.now() < end:
            if process.poll() is not None:
                raise desktop.DesktopError(f"the agent ended (status {process.returncode})")
            for box in self.boxes():
                self.take_box(box)
            while pending and self.now() >= pending[0][0]:
                _, what, value = pending.pop(0)
                if what == "replace":
                    self.replace_diary(value, days)
                elif what == "options":
                    self.use_options()
                elif what == "suspend":
                    self.suspend_until(value)
                elif what.startswith("diary"):
                    self.move_diary(what)
                elif what == "remind":
                    self.use_options(remind=value)
                else:
                    self.events.append((self.now(), f"clock set to {self.clock.text(value)}"))
                    self.set_clock(value)
                    self.anchor = (time.time(), value)
                    # A clock set through libfaketime reaches no timer of the kernel: the signal
                    # of a continued process stands in for the kernel's notice of a clock set.
                    os.kill(process.pid, signal.SIGCONT)
            if time.monotonic() >= next_sample:
                next_sample = time.monotonic() + SAMPLE_SECONDS
                figures = proc_figures(process.pid)
                figures["at"] = self.now()
                self.samples.append(figures)
            time.sleep(0.05)
        final = proc_figures(process.pid)
        final["at"] = self.now()
        self.samples.append(final)
        return process

    def suspend_until(self, resume):
        stopped_at = self.now()
        os.kill(self.process.pid, signal.SIGSTOP)
        time.sleep(0.5)
        self.set_clock(resume)
        os.kill(self.process.pid, signal.SIGCONT)
        self.anchor = (time.time(), resume)
        self.events.append((stopped_at, f"stopped; resumed at {self.clock.text(resume)}"))

    def boxes(self):
        return [w for w in self.screen.windows(TITLE)
                if "DIALOG" in self.screen.window_type(w)]

    def take_box(self, box):
        seen_at = self.now()
        kind = self.screen.window_role(box)
        # A new window reaches the accessibility tree a moment after it is mapped.
        def box_text():
            return next((t for t in self.screen.window_texts(TITLE)
                         if re.match(r"^\d\d.\d\d : ", t)), None)

        try:
            text = desktop.poll(box_text, 5, "the box's text", interval=0.1)
        except desktop.DesktopError:
            text = "(no text read)"
        until = self.holds.pop((kind, text), None)
        if until is not None:
            while self.now() < until:
                time.sleep(0.05)
            self.events.append((seen_at, f"{kind} box {text!r} left open until "
                                f"{self.clock.text(self.now())}"))
        # A click on OK: keys reach a box only once it has been left alone for a second.
        self.screen.click_button(TITLE, "OK")
        desktop.poll(lambda: box not in self.screen.windows(TITLE), 10, "the box to close")
        # The one before it kept it waiting until it closed.
        self.seen.append((kind, text, seen_at, self.last_closed))
        self.last_closed = self.now()
        self.box_seconds.append(self.now() - seen_at)

    def replace_diary(self, version, days):
        staged = self.agent.mdb + ".new"
        subprocess.run([os.environ["ZURODID_MAKE_DIARY"], "-", staged], check=True,
                       input=diary_description(appointments_of(version, days)).encode(),
                       timeout=60)
        os.replace(staged, self.agent.mdb)
        self.events.append((self.now(), f"diary replaced by version {version}"))

    def move_diary(self, what):
        """The diary comes (written before the start), goes away or comes back."""
        away = self.agent.mdb + ".away"
        if what == "diary gone":
            os.replace(self.agent.mdb, away)
            self.gone_from = (self.now(), idle_footprint.wake_ups(
                idle_footprint.tree(self.process.pid)))
        elif os.path.exists(away):
            os.replace(away, self.agent.mdb)
            if what == "diary back" and self.gone_from:
                woke = idle_footprint.wake_ups(idle_footprint.tree(self.process.pid))
                self.gone_wakes = (woke - self.gone_from[1],
                                   (self.now() - self.gone_from[0]) / MINUTE)
        else:
            return
        self.events.append((self.now(), what))

    def use_options(self, remind=None):
        """Once with new lists' days and lead; with `remind`, to switch the advance
        reminders off (0) or on (1) alone."""
        self.screen.choose_menu_item("Options")
        options = self.screen.wait_window("Options")
        self.screen.activate(options)
        if remind is None:
            for point, text in ((OPTION_APPOINTMENT, "2"), (OPTION_MINUTES, str(LEAD_AFTER))):
                self.screen.click_in(options, *point)
                self.screen.keys("ctrl+a", "BackSpace")
                self.screen.type_text(text)
            wanted = [b"AppointmentStartUp=2\r\n", b"AppointmentRemind=4\r\n"]
        else:
            self.screen.click_in(options, *OPTION_REMIND)
            wanted = [b"Remind=%d\r\n" % remind]
        self.screen.click_in(options, *OPTION_OK)
        self.screen.wait_no_window("Options")
        with open(self.agent.ini, "rb") as settings:
            saved = settings.read()
        said = ", ".join(w.decode().strip() for w in wanted)
        self.events.append((self.now(), f"Options: {said}; " + (
            "saved" if all(w in saved for w in wanted) else f"NOT SAVED: {saved!r}")))


def compare(expected, near_end, seen, end):
    """Counts each (kind, text) expected against those seen; then, kind by kind, the order
    and the time of each box. Returns (missing, duplicated or unexpected, out of order,
    untimely), each a list of descriptions."""
    seen = [box for box in seen if box[2] < end - END_SLACK or
            (box[0], box[1]) not in {(k, t) for k, t, _, _ in near_end}]
    wanted = collections.Counter((kind, text) for kind, text, _, _ in expected)
    got = collections.Counter((kind, text) for kind, text, _, _ in seen)
    missing = [f"{kind:11s} {text}  x{n}" for (kind, text), n in (wanted - got).items()]
    extra = [f"{kind:11s} {text}  x{n}" for (kind, text), n in (got - wanted).items()]
    disorder, untimely = [], []
    for kind in ("critical", "information"):
        want = [box for box in expected if box[0] == kind]
        have = [box for box in seen if box[0] == kind]
        for n, (w, h) in enumerate(zip(want, have)):
            if w[1] != h[1]:
                disorder.append(f"{kind} box {n + 1}: expected {w[1]!r}, seen {h[1]!r}")
                break
            lateness = h[2] - w[2]
            waited = h[2] - max(w[2], h[3])  # since it could first be shown
            if lateness < -EARLY_SLACK or (not w[3] and waited > LATE_SLACK):
                untimely.append(f"{kind:11s} {w[1]}  seen {lateness / MINUTE:+.1f} min after "
                                f"its minute, {waited / MINUTE:+.1f} after the box before "
                                f"it closed")
    return missing, extra, disorder, untimely


def main():
    # Stopped from outside: the desktop and the agent still go with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("soak: stopped"))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--hours", type=float, default=75)
    parser.add_argument("--rate", type=int, default=100)
    parser.add_argument("--tz", default="Europe/Berlin")
    parser.add_argument("--start", default=START, help="[DAY] HH:MM, DAY counted from 0")
    args = parser.parse_args()
    if args.rate > 120:
        parser.error("--rate above 120 lets an advance reminder's lead pass without a tick")
    build = os.path.abspath(args.build)
    os.environ.setdefault("ZURODID_AGENT", os.path.join(build, "zurodid-agent"))
    os.environ.setdefault("ZURODID_MAKE_DIARY", os.path.join(build, "tools", "make-diary",
                                                             "make-diary"))
    clock = Clock(args.tz)
    day_offset, _, start_clock = args.start.rpartition(" ")
    start = clock.at(int(day_offset or 0), start_clock)
    end = start + args.hours * 3600
    days = (clock.local(end).date() - FIRST_DAY).days + 3
    expected, near_end = expected_boxes(clock, start, end, days)
    late = sum(1 for box in expected if box[3])
    print(f"soak: {clock.text(start)} to {clock.text(end)} ({args.hours:g} h of the clock, "
          f"{(clock.local(end).date() - clock.local(start).date()).days} midnights) at "
          f"x{args.rate}: about "
          f"{args.hours * 3600 / args.rate / 60:.0f} real minutes; "
          f"{len(appointments_of(0, days))} appointments, {len(expected)} boxes expected "
          f"({late} of them late), {len(near_end)} more too near the end to be sure of",
          flush=True)
    with tempfile.TemporaryDirectory(prefix="zurodid-soak-") as work:
        with desktop.Desktop(work) as screen:
            agent = agentfolder.AgentFolder(screen, os.path.join(work, "agent"))
            agent.write_settings(startup_remind=0, anniversary_days=0, appointment_days=0,
                                 remind=1, remind_minutes=LEAD_BEFORE)
            # The diary as the saves before the start left it; put in place later when it comes
            # after the start.
            late = start < clock.at(*DIARY_COMES)
            subprocess.run([os.environ["ZURODID_MAKE_DIARY"], "-",
                            agent.mdb + ".away" if late else agent.mdb], check=True,
                           input=diary_description(
                               appointments_of(version_at(clock, start), days)).encode(),
                           timeout=60)
            soak = Soak(screen, agent, clock, start, args.rate, work)
            process = soak.run(end, days)
            process.terminate()
            # Its diary reader ends when it does, as an orphan of ours: let it, then reap it.
            try:
                screen.wait_killed(process)
                left = []
            except desktop.DesktopError as error:
                left = [str(error)]
            log = os.path.join(work, "zurodid-agent.log")
            logged = open(log, errors="replace").read().splitlines() if os.path.exists(log) \
                else []
    missing, extra, disorder, untimely = compare(expected, near_end, soak.seen, end)
    for at, what in soak.events:
        print(f"  {clock.text(at)}  {what}")
    print(f"boxes: {len(expected)} expected, {len(soak.seen)} seen; {len(missing)} lost, "
          f"{len(extra)} duplicated or unexpected, {len(disorder)} out of order, "
          f"{len(untimely)} early or late beyond {LATE_SLACK // MINUTE} min (not held up)")
    burst = [at for _, text, at, _ in soak.seen if text.startswith(f"{BURST[1]} : Burst ")]
    if burst:
        print(f"the {len(burst)} boxes of the rows at {BURST[1]}: from "
              f"{clock.text(min(burst))} to {clock.text(max(burst))}")
    if soak.gone_wakes:
        woke, gone_minutes = soak.gone_wakes
        print(f"while the diary was away ({gone_minutes:.0f} simulated minutes): {woke} "
              f"wake-ups of the agent's processes, {woke / gone_minutes:.2f} a minute")
    if soak.box_seconds:
        print(f"a box was open for {max(soak.box_seconds) / MINUTE:.1f} simulated minutes at "
              f"most, {sorted(soak.box_seconds)[len(soak.box_seconds) // 2]:.0f} s half the "
              f"time, while it was read and closed (the held ones included)")
    for title, found in (("lost", missing), ("duplicated or unexpected", extra),
                         ("out of order", disorder), ("early or late", untimely)):
        for line in found[:20]:
            print(f"  {title:24s}  {line}")
    # The steady state: after the first day, and after the first use of Options, whose dialog
    # brings in once what any window of its kind needs.
    steady_from = start + 86400
    for at, what in soak.events:
        if what.startswith("Options"):
            steady_from = max(steady_from, at + 3600)
    later = [s for s in soak.samples if s["at"] >= steady_from]
    print("samples (the agent's clock: RSS MB, open descriptors, reading children):")
    for sample in soak.samples[:: max(1, len(soak.samples) // 12)] + soak.samples[-1:]:
        print(f"  {clock.text(sample['at'])}  {sample['rss']:6.2f} MB  {sample['fds']:3d} fds"
              f"  {sample['children']} children")
    growth_rss = max(s["rss"] for s in later) - later[0]["rss"] if later else 0
    # A reading child holds a pipe of the agent's while it runs: descriptors are judged
    # between reads.
    between = [s for s in later if s["children"] == 0]
    growth_fds = max(s["fds"] for s in between) - between[0]["fds"] if between else 0
    last = soak.samples[-1]
    boxes_later = sum(1 for _, _, at, _ in soak.seen if at >= steady_from)
    per_box = f", {growth_rss * 1024 / boxes_later:.1f} KB a box" if boxes_later else ""
    print(f"from {clock.text(steady_from)} on ({boxes_later} boxes): RSS grew "
          f"{growth_rss:+.2f} MB at most{per_box}, descriptors {growth_fds:+d} at most "
          f"between reads ({max(s['fds'] for s in later) - later[0]['fds']:+d} during them)"
          if later else "no samples then")
    print(f"CPU time: {last['cpu']:.1f} s of its own, {last['cpu_children']:.1f} s of its "
          f"reading children, over {args.hours:g} hours of the clock")
    print(f"processes of the agent's group left after it ended: {len(left)}")
    print(f"the agent's standard error: {len(logged)} lines")
    for line in logged[:10]:
        print(f"  {line}")
    ok = not (missing or extra or disorder or untimely) and growth_rss < 1.0 \
        and growth_fds <= 0 and not left
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
