#!/usr/bin/python3
"""Start-up time and memory of the agent, side by side with the smallest Qt 6 program that
shows a tray icon and a fixed 481 x 313 window (minimal_tray_window), in one run, on a private
X desktop with a tray (Xvfb, openbox, trayer).

  bench/e2e/start_up_footprint.py [BUILD_DIR] [RUNS] [IDLE_SECONDS]
                                  [--appointments N] [--anniversaries N]

BUILD_DIR holds zurodid-agent, tools/make-diary/make-diary, bench/e2e/minimal_tray_window and
bench/e2e/minimal_list_window (default build/release). The diary: by default 32,767 appointments and 10,000 anniversaries
spread over a year (a month before today included); settings StartUpRemind=1 and a week's
range (AnniversaryStartUp=7, AppointmentStartUp=7). The agent is compared with the minimal
program showing one line of Thai and Latin text (--text), the program that draws text as the
agent's list window does; the bare minimal program and the agent on an empty diary are
measured too, to tell what text and the rows cost. Each run starts one program, waits for its
window titled "Zurodid Agent" to be on screen (the X server's map event, heard by xev, then
the title checked), reads the process's CPU time and peak
resident memory (VmHWM); the programs take turns and medians are reported. Then the four are
started once more and left side by side for IDLE_SECONDS (default 30), and their resident
memory is read again.
Targets: the time to the window at most 1.15 times that of the floor, minimal_list_window,
which shows the agent's list window with the same rows held in memory (the rows the agent
lists, by the same rule, written here to a file it is given); the minimal program with text's
ratio beside it. Peak resident memory over the minimal program with text: at most +3 MB on the
big diary, +2 MB on a small one (up to 200 appointments and no anniversaries).
Then the list window opened by a click on the tray icon of an agent started with
StartUpRemind=0 on the same diary, closed and opened again (each opening reads the diary):
from the click to the window's map event (xdotool's own start included, the icon found before),
target 150 ms.
"""

import argparse
import datetime
import os
import select
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import agentfolder  # noqa: E402
import desktop  # noqa: E402

TITLE = "Zurodid Agent"
TICK = os.sysconf("SC_CLK_TCK")


def diary_description(appointments, anniversaries, quiet_minutes):
    """make-diary's description, in days from the real today: appointments evenly through a
    year (a month before today included; every 16 minutes for 32,767 of them), anniversaries
    on every day of the year.
    None falls in the next quiet_minutes (those move a year on): the idle phase shows no
    reminder box. The clock is not faked: a clock set before the day the fonts were installed
    makes fontconfig rebuild its cache at every start, a cost no user's desktop has."""
    lines = ["table Anniversary"]
    lines += [f"row {n % 366 - 183:+d}d | วันเกิด {n}" for n in range(anniversaries)]
    lines.append("table Appointment")
    for n, day, clock in appointment_days(appointments, quiet_minutes):
        lines.append(f"row {day:+d}d {clock // 60:02d}:{clock % 60:02d} | "
                     f"ประชุมทีม ห้อง {n % 40} / meeting {n}")
    return "\n".join(lines) + "\n"


def appointment_days(appointments, quiet_minutes):
    """(n, day from today, minute of the day) of each of diary_description's appointments."""
    now = datetime.datetime.now()
    today = datetime.datetime.combine(now.date(), datetime.time())
    # From the start of this minute: an agent started in it reminds of what falls in it.
    quiet = (now - today - datetime.timedelta(seconds=now.second, microseconds=now.microsecond),
             now - today + datetime.timedelta(minutes=quiet_minutes))
    step = max(1, 365 * 1440 // max(1, appointments))
    for n in range(appointments):
        minute = n * step
        day, clock = minute // 1440 - 30, minute % 1440
        if quiet[0] <= datetime.timedelta(days=day, minutes=clock) <= quiet[1]:
            day += 365
        yield n, day, clock


def listed_rows(appointments, anniversaries, quiet_minutes, days=7):
    """The rows the agent lists for diary_description's diary with a week's range, as lines
    for minimal_list_window: anniversaries whose day comes in the next `days` days,
    appointments from today through `days` days ahead."""
    today = datetime.datetime.combine(datetime.date.today(), datetime.time())
    lines = []
    for n in range(anniversaries):
        day = n % 366 - 183
        if 0 <= day <= days:
            date = today + datetime.timedelta(days=day)
            lines.append(f"A\t{date:%d/%m/}{date.year}\tวันเกิด {n}")
    for n, day, clock in appointment_days(appointments, quiet_minutes):
        if 0 <= day <= days:
            date = today + datetime.timedelta(days=day)
            lines.append(f"P\t{date:%d/%m/%Y}\t{clock // 60:02d}:{clock % 60:02d}\t"
                         f"ประชุมทีม ห้อง {n % 40} / meeting {n}")
    return "\n".join(lines) + "\n"


def open_by_click(screen, watch, agent, runs):
    """Seconds from a click on the tray icon to the list window's map, `runs` times, the
    window closed in between; the agent is started with StartUpRemind=0 and left to settle."""
    process = agent.start()
    times = []
    try:
        screen.wait_tray_icons(1, timeout=60)
        time.sleep(3)  # start-up's reads and fills are over
        for _ in range(runs):
            # The icon is found before the clock starts: the lookup runs xdotool and xwininfo
            # several times over, 40 to 90 ms that are the benchmark's own, not the agent's.
            x, y, width, height = screen.tray_icons()[0]
            watch.drain()
            clicked = time.monotonic()
            # Not waited for: xdotool takes longer to end than the agent to answer, and a map
            # read after it (or after a poll for the title) would be timed late.
            clicker = subprocess.Popen(["xdotool", "mousemove", str(x + width // 2),
                                        str(y + height // 2), "click", "1"], env=screen.env())
            mapped = None
            while mapped is None:
                mapped = watch.wait_for_map(30)
                if mapped is None:
                    raise desktop.DesktopError("the list window did not come")
                if not screen.windows(TITLE):
                    mapped = None
            times.append(mapped - clicked)
            clicker.wait(10)
            window = screen.wait_window(TITLE, timeout=30)
            screen.close_window(window)
            screen.wait_no_window(TITLE)
            time.sleep(0.5)
    finally:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    return times


def status_kb(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def stat_fields(pid):
    with open(f"/proc/{pid}/stat") as stat:
        return stat.read().rsplit(")", 1)[1].split()


def cpu_seconds(pid):
    """CPU seconds of a process: (its living threads, from the scheduler in nanoseconds; the
    same in clock ticks with the threads that have ended (the early reads' decoding thread);
    that and its living children (the reader process) with the children they have reaped
    (the reading children), in clock ticks)."""
    threads = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
            threads += int(stat.read().split()[0]) / 1e9
    fields = stat_fields(pid)
    whole = (int(fields[11]) + int(fields[12])) / TICK
    readers = 0
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                child = stat_fields(entry)
            except OSError:
                continue
            if int(child[1]) == pid:
                readers += sum(int(value) for value in child[11:15]) / TICK
    return threads, whole, whole + readers


class MapWatch:
    """Hears the X server map windows at the top level (xev on the root's substructure), so
    that the time a window comes on screen is taken from the event, not from a poll that would
    spawn a process every few milliseconds and take the CPU the measured program needs."""

    def __init__(self, screen):
        self.process = subprocess.Popen(
            ["stdbuf", "-oL", "xev", "-root", "-event", "substructure"], env=screen.env(),
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        os.set_blocking(self.process.stdout.fileno(), False)
        self.pending = b""
        time.sleep(0.5)  # xev selects its events once it has started
        self.drain()

    def drain(self):
        """The lines that have arrived, without waiting."""
        try:
            self.pending += os.read(self.process.stdout.fileno(), 1 << 16)
        except BlockingIOError:
            pass
        *lines, self.pending = self.pending.split(b"\n")
        return lines

    def wait_for_map(self, limit):
        """The monotonic time of the next MapNotify; None after limit seconds."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            select.select([self.process.stdout], [], [], 0.1)
            seen = time.monotonic()
            if any(line.startswith(b"MapNotify") for line in self.drain()):
                return seen
        return None

    def close(self):
        self.process.kill()
        self.process.wait()


def start(screen, watch, argv, env):
    """Starts argv and returns it with its figures once its window is on screen: one more
    window titled TITLE than before (the programs of the idle phase keep theirs), at the
    first top-level map after which the window is there."""
    before = len(screen.windows(TITLE))
    watch.drain()
    started = time.monotonic()
    process = subprocess.Popen(argv, env=env, cwd="/", stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, start_new_session=True)
    shown = None
    deadline = started + 120
    while shown is None and time.monotonic() < deadline:
        mapped = watch.wait_for_map(deadline - time.monotonic())
        if mapped is not None and len(screen.windows(TITLE)) > before:
            shown = mapped - started
    if shown is None:
        end(screen, process)
        raise desktop.DesktopError("the window did not come")
    threads, whole, with_readers = cpu_seconds(process.pid)
    return process, dict(window=shown, cpu=threads, cpu_ticks=whole, cpu_all=with_readers,
                         peak=status_kb(process.pid, "VmHWM") / 1024,
                         rss=status_kb(process.pid, "VmRSS") / 1024)


def end(screen, process):
    before = len(screen.windows(TITLE))
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
    desktop.poll(lambda: len(screen.windows(TITLE)) < before, 10, "the window to go")
    # Other programs on this machine (faked clocks) may have made it stale meanwhile.
    subprocess.run(["fc-cache"], check=False)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", nargs="?", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("runs", nargs="?", type=int, default=5)
    parser.add_argument("idle", nargs="?", type=float, default=30)
    parser.add_argument("--appointments", type=int, default=32767)
    parser.add_argument("--anniversaries", type=int, default=10000)
    args = parser.parse_args()
    build, runs, idle = os.path.abspath(args.build), args.runs, args.idle
    small = args.appointments <= 200 and args.anniversaries == 0
    time_target, memory_target = 1.15, (2.0 if small else 3.0)
    os.environ.setdefault("ZURODID_AGENT", os.path.join(build, "zurodid-agent"))
    os.environ.setdefault("ZURODID_MAKE_DIARY", os.path.join(build, "tools", "make-diary",
                                                             "make-diary"))
    minimal = os.path.join(build, "bench", "e2e", "minimal_tray_window")
    floor = os.path.join(build, "bench", "e2e", "minimal_list_window")
    with tempfile.TemporaryDirectory(prefix="zurodid-startup-") as work:
        with desktop.Desktop(work, accessibility=False) as screen:
            agent = agentfolder.AgentFolder(screen, os.path.join(work, "agent"))
            agent.write_settings(startup_remind=1, anniversary_days=7, appointment_days=7)
            subprocess.run([os.environ["ZURODID_MAKE_DIARY"], "-", agent.mdb], check=True,
                           input=diary_description(args.appointments, args.anniversaries,
                                                   runs + idle / 60 + 10).encode(),
                           timeout=120)
            # The same agent on an empty diary: what the diary's rows cost, and what not.
            empty = agentfolder.AgentFolder(screen, os.path.join(work, "empty"))
            empty.write_settings(startup_remind=1, anniversary_days=7, appointment_days=7)
            subprocess.run([os.environ["ZURODID_MAKE_DIARY"], "-", empty.mdb], check=True,
                           input=b"table Anniversary\ntable Appointment\n", timeout=60)
            rows = os.path.join(work, "rows.txt")
            with open(rows, "w") as listed:
                listed.write(listed_rows(args.appointments, args.anniversaries,
                                         runs + idle / 60 + 10))
            env = screen.env()
            # The font cache as a user's desktop has it: valid.
            subprocess.run(["fc-cache"], check=False)
            programs = {"minimal": [minimal], "agent": [agent.executable],
                        "empty": [empty.executable], "text": [minimal, "--text"],
                        "floor": [floor, rows]}
            results = {name: [] for name in programs}
            watch = MapWatch(screen)
            try:
                for _ in range(runs):
                    for name, argv in programs.items():
                        process, figures = start(screen, watch, argv, env)
                        end(screen, process)
                        results[name].append(figures)
                # The idle phase: all of them side by side for IDLE seconds, once.
                running = {name: start(screen, watch, argv, env)[0]
                           for name, argv in programs.items()}
                time.sleep(idle)
                after_idle = {name: dict(rss=status_kb(process.pid, "VmRSS") / 1024,
                                         peak=status_kb(process.pid, "VmHWM") / 1024,
                                         alive=process.poll() is None)
                              for name, process in running.items()}
                for process in running.values():
                    end(screen, process)
                # The list window opened by a click, on an agent that did not show it at start.
                clicking = agentfolder.AgentFolder(screen, os.path.join(work, "click"))
                clicking.write_settings(startup_remind=0, anniversary_days=7,
                                        appointment_days=7)
                shutil.copyfile(agent.mdb, clicking.mdb)
                clicks = open_by_click(screen, watch, clicking, runs)
            finally:
                watch.close()
    median = {name: {key: statistics.median(run[key] for run in figures)
                     for key in figures[0]} for name, figures in results.items()}
    print(f"diary: {args.appointments} appointments, {args.anniversaries} anniversaries; "
          f"StartUpRemind=1, a week's range; medians of {runs} runs each, taking turns; "
          f"idle {idle:.0f} s")
    print(f"{'':28s}{'agent':>10s}{'text':>10s}{'ratio/diff':>12s}   (text: minimal --text)")
    a, m, e, t = median["agent"], median["minimal"], median["empty"], median["text"]
    f = median["floor"]
    print(f"{'start to window on screen':28s}{a['window']:9.3f}s{t['window']:9.3f}s"
          f"{a['window'] / t['window']:11.2f}x")
    print(f"{'  the floor (same rows held)':28s}{a['window']:9.3f}s{f['window']:9.3f}s"
          f"{a['window'] / f['window']:11.2f}x   (target <= {time_target:.2f}x the floor)")
    print(f"{'CPU time to window':28s}{a['cpu']:9.3f}s{t['cpu']:9.3f}s"
          f"{a['cpu'] / t['cpu']:11.2f}x")
    print(f"{'  ended threads too (ticks)':28s}{a['cpu_ticks']:9.3f}s{t['cpu_ticks']:9.3f}s")
    print(f"{'  and the reading processes':28s}{a['cpu_all']:9.3f}s{t['cpu_all']:9.3f}s"
          f"   (floor: {f['cpu_all']:.3f}s)")
    for key, label in (("peak", "peak RSS at window"), ("rss", "RSS at window")):
        print(f"{label:28s}{a[key]:8.1f}MB{t[key]:8.1f}MB{a[key] - t[key]:+10.1f}MB"
              + (f"   (target <= +{memory_target:.0f} MB)" if key == "peak" else ""))
    ai, ti = after_idle["agent"], after_idle["text"]
    for key, label in (("peak", f"peak RSS after {idle:.0f} s idle"),
                       ("rss", f"RSS after {idle:.0f} s idle")):
        print(f"{label:28s}{ai[key]:8.1f}MB{ti[key]:8.1f}MB{ai[key] - ti[key]:+10.1f}MB"
              f"   (one run)")
    if not all(figures["alive"] for figures in after_idle.values()):
        print("a program ended during the idle phase: " + ", ".join(
            name for name, figures in after_idle.items() if not figures["alive"]))
        return 1
    print(f"the agent on an empty diary: window after {e['window']:.3f} s, peak RSS "
          f"{e['peak']:.1f} MB: the diary's rows cost {a['peak'] - e['peak']:+.1f} MB, the rest "
          f"of the agent {e['peak'] - m['peak']:+.1f} MB over the minimal program")
    print(f"the minimal program with one line of Thai and Latin text: window after "
          f"{t['window']:.3f} s, peak RSS {t['peak']:.1f} MB: drawing text costs "
          f"{t['window'] - m['window']:+.3f} s and {t['peak'] - m['peak']:+.1f} MB")
    print(f"the floor: peak RSS {f['peak']:.1f} MB; the agent {a['peak'] - f['peak']:+.1f} MB")
    print(f"list window opened by a click (StartUpRemind=0, each opening reads the diary): "
          f"median {statistics.median(clicks) * 1000:.0f} ms (target <= 150 ms); "
          + ", ".join(f"{c * 1000:.0f}" for c in clicks) + " ms")
    for name, figures in results.items():
        print(f"{name} runs: " + ", ".join(f"{run['window']:.3f}s/{run['peak']:.1f}MB"
                                            for run in figures))
    return 0


if __name__ == "__main__":
    sys.exit(main())
