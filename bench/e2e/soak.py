#!/usr/bin/python3
"""Days of running: the release agent on a private X desktop with a tray, its clock sped up
through libfaketime, closing every reminder box as it comes and checking it against the boxes
that the diary and the settings call for.

  bench/e2e/soak.py [BUILD_DIR] [--hours H] [--rate R] [--start HH:MM]

BUILD_DIR holds zurodid-agent and tools/make-diary/make-diary (default build/release). The
simulated run starts on 2026-12-07 at --start (default 00:25) and lasts --hours (default 72:
three days, three midnights). The clock runs --rate times as fast as the real one (default
50). The agent's timer keeps the real monotonic clock and ticks once a real second, give or
take 5 % (a coarse Qt timer), so at 50 it ticks every 47.5 to 52.5 simulated seconds: at least
once in every simulated minute. The rate must stay at 55 or below for that.

The diary holds about a hundred appointments a day, at least ten minutes apart, one at 00:00
and one at 23:59 on some days; settings AppointmentStartUp=0, Remind=1, AppointmentRemind=3.
During the run the diary is replaced by rename (as the diary program saves) four times, each
version moving later days' appointments, and the Options dialog is used once, on the second
day, setting AppointmentStartUp=2 and AppointmentRemind=4.

Boxes expected (computed here from the diary versions and the settings, not from the agent's
code): on each day, the list is the diary as it is at that day's start (the agent's start, or
its first tick after midnight); every appointment of the day whose minute is still ahead then
raises the on-time box in its minute, and the advance box AppointmentRemind minutes before it
when that minute is still ahead on the same day; appointments of other days raise nothing.

Reported: boxes expected and seen, each difference; resident memory and open descriptors of
the agent sampled over the run; child processes left; CPU time. Exit status 0 when the boxes
match, memory and descriptors do not grow after the first day and the first use of Options
(by less than 1 MB), and nothing is left running.
"""

import argparse
import datetime
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import agentfolder  # noqa: E402
import desktop  # noqa: E402
from test_agent import OPTION_APPOINTMENT, OPTION_MINUTES, OPTION_OK  # noqa: E402

TITLE = desktop.AGENT_TITLE
FIRST_DAY = datetime.date.fromisoformat(agentfolder.FAKE_DAY)
LEAD_BEFORE, LEAD_AFTER = 3, 4
SAMPLE_SECONDS = 20  # real seconds between memory samples
# Boxes due this close to the end of the run may or may not come before it ends.
END_SLACK = datetime.timedelta(minutes=3)
# (day of the run, simulated time): when the diary is replaced, and when Options is used; in
# gaps of the diary, away from midnight.
REPLACEMENTS = [(0, "10:07"), (1, "03:33"), (1, "18:18"), (2, "09:09")]
OPTIONS_AT = (1, "12:10")
OPTIONS_GAP = ("11:50", "12:50")  # no appointment on that day in this stretch


def minutes(clock):
    hours, mins = clock.split(":")
    return int(hours) * 60 + int(mins)


def clock_text(minute):
    return f"{minute // 60:02d}:{minute % 60:02d}"


def appointments_of(version, days):
    """(date, minute, subject) of diary version `version` over `days`, in time order. Every
    version moves the appointments of the days after its replacement by a few minutes and
    renames them, so that what is seen tells which version the agent read."""
    rows = []
    for index in range(days):
        day = FIRST_DAY + datetime.timedelta(days=index)
        times = list(range(20, 23 * 60 + 50, 14))  # 00:20 to 23:48, 14 minutes apart
        if index % 2 == 1:
            times = [0] + times + [23 * 60 + 59]
        if index == OPTIONS_AT[0]:
            gap = [minutes(t) for t in OPTIONS_GAP]
            times = [t for t in times if not gap[0] <= t <= gap[1]]
        changed = sum(1 for when_day, _ in REPLACEMENTS[:version] if when_day < index)
        for n, minute in enumerate(times):
            if changed and 0 < minute < 23 * 60 + 50 and n % 5 == 0:
                minute += changed  # later by a minute for each version that moved it
            rows.append((day, minute, f"Soak {day.isoformat()} v{changed} #{n}"))
    return rows


def diary_description(rows):
    lines = ["table Anniversary", "table Appointment"]
    for day, minute, subject in rows:
        lines.append(f"row {day.isoformat()} {clock_text(minute)} | {subject}")
    return "\n".join(lines) + "\n"


def expected_boxes(start, end, days, rate):
    """(kind, text, due datetime) of every box the run calls for, and of the boxes that may or
    may not come (those that depend on the phase of the agent's ticks)."""
    options_at = datetime.datetime.combine(FIRST_DAY + datetime.timedelta(days=OPTIONS_AT[0]),
                                           datetime.time.fromisoformat(OPTIONS_AT[1]))
    tick = datetime.timedelta(seconds=rate)  # one real second
    boxes, maybe = [], []
    day = start.date()
    while datetime.datetime.combine(day, datetime.time()) < end:
        midnight = datetime.datetime.combine(day, datetime.time())
        built = max(start, midnight)
        version = sum(1 for when_day, when in REPLACEMENTS if _at(when_day, when) <= built)
        rows = [(minute, subject) for row_day, minute, subject in appointments_of(version, days)
                if row_day == day]

        def lead_at(due):
            return LEAD_BEFORE if due - datetime.timedelta(minutes=LEAD_BEFORE) < options_at \
                else LEAD_AFTER

        for kind in ("critical", "information"):
            # Each cursor starts on row 1 and passes one row a tick: at start-up, the rows
            # whose minute has passed take a tick each (and the start a few seconds) before
            # the cursor can wait on a row; after midnight no row has passed.
            def at_of(minute):
                due = midnight + datetime.timedelta(minutes=minute)
                return due if kind == "critical" else due - datetime.timedelta(
                    minutes=lead_at(due))

            passed = sum(1 for minute, _ in rows if at_of(minute) < built)
            ready = built if built == midnight else built + (passed + 3) * tick
            for minute, subject in rows:
                at = at_of(minute)
                if at < built or at.date() != day or at >= end - END_SLACK:
                    continue
                box = (kind, f"{clock_text(minute)} : {subject}", at)
                (boxes if at >= ready else maybe).append(box)
        day += datetime.timedelta(days=1)
    return sorted(boxes, key=lambda box: box[2]), maybe


def _at(day_index, clock):
    return datetime.datetime.combine(FIRST_DAY + datetime.timedelta(days=day_index),
                                     datetime.time.fromisoformat(clock))


def proc_figures(pid):
    with open(f"/proc/{pid}/status") as status:
        values = dict(line.split(":", 1) for line in status if ":" in line)
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    tick = os.sysconf("SC_CLK_TCK")
    children = []
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/children") as listed:
            children += listed.read().split()
    return dict(rss=int(values["VmRSS"].split()[0]) / 1024,
                fds=len(os.listdir(f"/proc/{pid}/fd")),
                cpu=(int(fields[11]) + int(fields[12])) / tick,
                cpu_children=(int(fields[13]) + int(fields[14])) / tick,
                children=len(children))


class Soak:
    def __init__(self, screen, agent, start, rate):
        self.screen, self.agent, self.start, self.rate = screen, agent, start, rate
        self.seen, self.samples, self.events, self.box_seconds = [], [], [], []
        self.started_real = None

    def now(self):
        """The agent's simulated time, as far as the real time since its start tells."""
        return self.start + datetime.timedelta(
            seconds=(time.time() - self.started_real) * self.rate)

    def run(self, end, days):
        env_clock = f"@{self.start:%Y-%m-%d %H:%M:%S} x{self.rate}"
        env = self.screen.env(TZ="UTC", LD_PRELOAD=agentfolder.faketime_library(),
                              FAKETIME=env_clock, FAKETIME_DONT_FAKE_MONOTONIC="1")
        # faketime counts from the whole second of the real clock in which the program starts.
        self.started_real = float(int(time.time()))
        process = self.screen.spawn([self.agent.executable], env=env, cwd="/")
        self.agent.process = process
        self.screen.wait_tray_icons(1, timeout=60)
        pending = [(_at(d, t), "replace", n + 1) for n, (d, t) in enumerate(REPLACEMENTS)]
        pending.append((_at(*OPTIONS_AT), "options", None))
        pending = sorted(event for event in pending if self.start < event[0] < end)
        next_sample = 0.0
        while self.now() < end:
            if process.poll() is not None:
                raise desktop.DesktopError(f"the agent ended (status {process.returncode})")
            for box in self.boxes():
                self.take_box(box)
            while pending and self.now() >= pending[0][0]:
                _, what, version = pending.pop(0)
                if what == "replace":
                    self.replace_diary(version, days)
                else:
                    self.use_options()
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
        # A click on OK: keys reach a box only once it has been left alone for a second.
        self.screen.click_button(TITLE, "OK")
        desktop.poll(lambda: box not in self.screen.windows(TITLE), 10, "the box to close")
        self.seen.append((kind, text, seen_at))
        self.box_seconds.append(self.now() - seen_at)

    def replace_diary(self, version, days):
        staged = self.agent.mdb + ".new"
        subprocess.run([os.environ["ZURODID_MAKE_DIARY"], "-", staged], check=True,
                       input=diary_description(appointments_of(version, days)).encode(),
                       timeout=60)
        os.replace(staged, self.agent.mdb)
        self.events.append((self.now(), f"diary replaced by version {version}"))

    def use_options(self):
        self.screen.choose_menu_item("Options")
        options = self.screen.wait_window("Options")
        self.screen.activate(options)
        for point, text in ((OPTION_APPOINTMENT, "2"), (OPTION_MINUTES, str(LEAD_AFTER))):
            self.screen.click_in(options, *point)
            self.screen.keys("ctrl+a", "BackSpace")
            self.screen.type_text(text)
        self.screen.click_in(options, *OPTION_OK)
        self.screen.wait_no_window("Options")
        with open(self.agent.ini, "rb") as settings:
            saved = settings.read()
        wanted = b"AppointmentStartUp=2\r\n" in saved and b"AppointmentRemind=4\r\n" in saved
        self.events.append((self.now(), "Options: AppointmentStartUp=2, AppointmentRemind=4; "
                            + ("saved" if wanted else f"NOT SAVED: {saved!r}")))


def compare(expected, seen, slack):
    """Pairs each seen box with an expected one of the same kind and text due within slack;
    returns (matched, missing, unexpected)."""
    left = list(expected)
    matched, unexpected = [], []
    for kind, text, at in seen:
        found = next((box for box in left if box[0] == kind and box[1] == text
                      and abs(box[2] - at) <= slack), None)
        if found:
            left.remove(found)
            matched.append((found, at))
        else:
            unexpected.append((kind, text, at))
    return matched, left, unexpected


def main():
    # Stopped from outside: the desktop and the agent still go with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("soak: stopped"))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--hours", type=float, default=72)
    parser.add_argument("--rate", type=int, default=50)
    parser.add_argument("--start", default="00:25", help="[DAY] HH:MM, DAY counted from 0")
    args = parser.parse_args()
    if args.rate > 55:
        parser.error("--rate above 55 lets a simulated minute pass without a tick")
    build = os.path.abspath(args.build)
    os.environ.setdefault("ZURODID_AGENT", os.path.join(build, "zurodid-agent"))
    os.environ.setdefault("ZURODID_MAKE_DIARY", os.path.join(build, "tools", "make-diary",
                                                             "make-diary"))
    day_offset, _, clock = args.start.rpartition(" ")
    start = _at(int(day_offset or 0), clock)
    end = start + datetime.timedelta(hours=args.hours)
    days = (end.date() - FIRST_DAY).days + 3
    expected, maybe = expected_boxes(start, end, days, args.rate)
    print(f"soak: {start} to {end} simulated ({args.hours:g} h, "
          f"{(end.date() - start.date()).days} midnights) at x{args.rate}: "
          f"{args.hours * 3600 / args.rate / 60:.0f} real minutes; "
          f"{len(appointments_of(0, days))} appointments, {len(expected)} boxes expected "
          f"({len(maybe)} more may come, by the phase of the ticks after start-up)",
          flush=True)
    with tempfile.TemporaryDirectory(prefix="zurodid-soak-") as work:
        with desktop.Desktop(work) as screen:
            agent = agentfolder.AgentFolder(screen, os.path.join(work, "agent"))
            agent.write_settings(startup_remind=0, anniversary_days=0, appointment_days=0,
                                 remind=1, remind_minutes=LEAD_BEFORE)
            # The diary as the saves before the start left it.
            version = sum(1 for d, t in REPLACEMENTS if _at(d, t) <= start)
            subprocess.run([os.environ["ZURODID_MAKE_DIARY"], "-", agent.mdb], check=True,
                           input=diary_description(appointments_of(version, days)).encode(),
                           timeout=60)
            soak = Soak(screen, agent, start, args.rate)
            process = soak.run(end, days)
            pid = process.pid
            process.terminate()
            process.wait(10)
            left = [entry for entry in os.listdir("/proc") if entry.isdigit()
                    and desktop.group_of(entry) == pid]
            log = os.path.join(work, "zurodid-agent.log")
            logged = open(log, errors="replace").read().splitlines() if os.path.exists(log) \
                else []
    # A box is seen within a few simulated minutes of its minute: our estimate of the agent's
    # clock is good to a real second, and a box waits while the one before it is closed.
    matched, missing, unexpected = compare(expected, soak.seen,
                                           datetime.timedelta(minutes=3))
    _, _, unexpected = compare(maybe, unexpected, datetime.timedelta(minutes=3))
    unexpected = [box for box in unexpected if box[2] < end - END_SLACK]
    for at, what in soak.events:
        print(f"  {at:%Y-%m-%d %H:%M}  {what}")
    print(f"boxes: {len(expected)} expected, {len(soak.seen)} seen, {len(matched)} matched, "
          f"{len(missing)} missing, {len(unexpected)} unexpected")
    if soak.box_seconds:
        print(f"a box was open for {max(soak.box_seconds).total_seconds() / 60:.1f} simulated "
              f"minutes at most while it was read and closed")
    for kind, text, at in missing[:20]:
        print(f"  missing     {at:%Y-%m-%d %H:%M}  {kind:11s}  {text}")
    for kind, text, at in unexpected[:20]:
        print(f"  unexpected  {at:%Y-%m-%d %H:%M}  {kind:11s}  {text}")
    # The steady state: after the first day, and after the first use of Options, whose dialog
    # brings in once what any window of its kind needs.
    steady_from = start + datetime.timedelta(days=1)
    for at, what in soak.events:
        if what.startswith("Options"):
            steady_from = max(steady_from, at + datetime.timedelta(hours=1))
    later = [s for s in soak.samples if s["at"] >= steady_from]
    print("samples (simulated time: RSS MB, open descriptors, reading children):")
    for sample in soak.samples[:: max(1, len(soak.samples) // 12)] + soak.samples[-1:]:
        print(f"  {sample['at']:%Y-%m-%d %H:%M}  {sample['rss']:6.2f} MB  {sample['fds']:3d} fds"
              f"  {sample['children']} children")
    growth_rss = max(s["rss"] for s in later) - later[0]["rss"] if later else 0
    growth_fds = max(s["fds"] for s in later) - later[0]["fds"] if later else 0
    last = soak.samples[-1]
    boxes_later = sum(1 for _, _, at in soak.seen if at >= steady_from)
    per_box = f", {growth_rss * 1024 / boxes_later:.1f} KB a box" if boxes_later else ""
    print(f"from {steady_from:%Y-%m-%d %H:%M} on ({boxes_later} boxes): RSS grew "
          f"{growth_rss:+.2f} MB at most{per_box}, descriptors {growth_fds:+d} at most")
    print(f"CPU time: {last['cpu']:.1f} s of its own, {last['cpu_children']:.1f} s of its "
          f"reading children, over {args.hours:g} simulated hours")
    print(f"processes of the agent's group left after it ended: {len(left)}")
    print(f"the agent's standard error: {len(logged)} lines")
    for line in logged[:10]:
        print(f"  {line}")
    ok = not missing and not unexpected and growth_rss < 1.0 and growth_fds <= 0 and not left
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
