#!/usr/bin/python3
"""Kills the real agent with SIGKILL while its Options dialog saves, and checks what it leaves.

  bench/e2e/kill_agent_options.py [BUILD_DIR] [KILLS] [SEED]

BUILD_DIR holds zurodid-agent and tools/make-diary/make-diary (default build/release); KILLS
defaults to 1000, SEED to 20261208. One throw-away desktop (Xvfb, openbox, trayer) serves the
whole run. For each kill: a fresh folder holding exactly the agent's own files, the executable
zurodid-agent, the diary Zurodid.mdb and the settings Zurodid.ini with the old five values, a
comment and another section (as kill_settings_write.py writes it); the agent is started, Options
is chosen from the tray icon's menu, the new five values are entered (the two check boxes
clicked, the three number boxes typed), OK is clicked, and the agent is killed after a random
delay counted from the click. The agent's descendants are then waited for (a save's last step,
naming the new file and renaming it over the old one, runs in a child of its own that a kill of
the agent leaves running), and the folder is checked: Zurodid.ini byte for byte one of the 32
files whose five keys are each old or new with everything else unchanged (else "torn"), there
("missing" else), the diary unchanged, and no other file beside the three.

The delay range: before the kills, the save is timed in the agent itself, a few times, from the
OK click until the file first changes (the save begins) and until it holds all five new values
(the save has ended); the delays are drawn uniformly from 0 to a quarter more than the slowest
end. Here the click reaches the agent 10 to 20 ms after it is started and the save takes 10 to
30 ms more, both varying with the load, so kills land before the save, during it and after it
(the report shows how many of each, by what the file held, with the delays they came after).

The menu item is found through the accessibility tree (the harness's choose_menu_item), so the
desktop runs with accessibility on.

An agent that the desktop could not be driven to save (a menu or window that did not come in
time) is reported, its folder checked all the same, and the kill made again with a new agent;
after more than a twentieth of KILLS (at least 10) such, the run stops. Exit status 0 when all
KILLS kills were made and none left a torn or missing file, a changed diary or another file, no
agent ended before its kill and no child of the agent still ran 10 s after it.
"""

import collections
import itertools
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
sys.path.insert(0, os.path.join(ROOT, "bench", "platform"))

import agentfolder  # noqa: E402
import desktop  # noqa: E402
from kill_settings_write import KEYS, NEW, OLD, settings_text  # noqa: E402
from test_agent import (OPTION_ANNIVERSARY, OPTION_APPOINTMENT, OPTION_MINUTES,  # noqa: E402
                        OPTION_OK, OPTION_REMIND, OPTION_STARTUP)

# What a folder holds before the agent starts, and all it may hold after a kill.
AGENT_FILES = {"zurodid-agent", "Zurodid.ini", "Zurodid.mdb"}
TIMED_SAVES = 7
# The check boxes are clicked (old and new differ), the number boxes typed.
CHECK_BOXES = {"StartUpRemind": OPTION_STARTUP, "Remind": OPTION_REMIND}
NUMBER_BOXES = {"AnniversaryStartUp": OPTION_ANNIVERSARY,
                "AppointmentStartUp": OPTION_APPOINTMENT, "AppointmentRemind": OPTION_MINUTES}
STUCK_SECONDS = 10
OUTCOMES = ("all old", "some keys new", "all new", "torn", "missing")


class Run:
    """The desktop, the diary every folder gets, and the folder of the current kill."""

    def __init__(self, screen, work):
        self.screen = screen
        self.work = work
        self.diary = os.path.join(work, "diary.mdb")
        # A few rows for the list window, which opens at start and is refilled on OK.
        description = agentfolder.diary_description(
            anniversaries=[(1, "วันเกิดสมชาย"), (4, "Anniversary")],
            appointments=[(1, "18:00", "ประชุมทีม"), (2, "09:00", "Dentist")])
        subprocess.run([agentfolder.tool("ZURODID_MAKE_DIARY"), "-", self.diary], check=True,
                       input=description.encode(), timeout=60)
        with open(self.diary, "rb") as file:
            self.diary_bytes = file.read()
        self.count = 0

    def new_agent(self):
        """A fresh folder with the agent's own files, and nothing else."""
        folder = os.path.join(self.work, f"agent-{self.count}")
        self.count += 1
        agent = agentfolder.AgentFolder(self.screen, folder)
        shutil.copyfile(self.diary, agent.mdb)
        with open(agent.ini, "wb") as file:
            file.write(settings_text(OLD))
        if set(os.listdir(folder)) != AGENT_FILES:
            raise SystemExit(f"the new folder holds {sorted(os.listdir(folder))}")
        return agent

    def start(self, agent):
        """Starts the agent and waits for its icon in the tray."""
        agent.start()
        self.screen.wait_tray_icons(1, timeout=30)

    def save_new_values(self):
        """Options from the tray menu, the new values entered, and OK clicked in a thread of
        its own (a kill may come while the click is still on its way): returns the thread
        and the monotonic time at which the click was started."""
        self.screen.choose_menu_item("Options")
        options = self.screen.wait_window("Options")
        self.screen.activate(options)
        # The dialog is fixed-size and stays put: its corner is looked up once.
        left, top, _, _ = self.screen.geometry(options)
        for key, new in zip(KEYS, NEW):
            if key in CHECK_BOXES:
                x, y = CHECK_BOXES[key]
                self.screen.click(left + x, top + y)
            else:
                x, y = NUMBER_BOXES[key]
                self.screen.click(left + x, top + y)
                self.screen.keys("ctrl+a")
                self.screen.type_text(new)
        click = threading.Thread(target=self.screen.click,
                                 args=(left + OPTION_OK[0], top + OPTION_OK[1]))
        clicked = time.monotonic()
        click.start()
        return click, clicked

    def end_agent(self, agent):
        """Kills the agent (if it still runs), waits for it and what it left running, waits
        until its windows and icon are gone; returns how many descendants outlived it."""
        agent.process.send_signal(signal.SIGKILL)
        with_orphans = self.screen.wait_killed(agent.process, STUCK_SECONDS)
        self.screen.wait_tray_icons(0, timeout=30)
        self.screen.wait_no_window("Options")
        return with_orphans

    def remove(self, agent):
        shutil.rmtree(agent.folder)


def time_saves(run):
    """(first change, all new) in seconds after the OK click, for TIMED_SAVES saves."""
    new_file = settings_text(NEW)
    old_file = settings_text(OLD)
    timings = []
    for _ in range(TIMED_SAVES):
        agent = run.new_agent()
        run.start(agent)
        click, clicked = run.save_new_values()
        began = ended = None
        deadline = clicked + 30
        while ended is None and time.monotonic() < deadline:
            with open(agent.ini, "rb") as file:
                content = file.read()
            now = time.monotonic()
            if began is None and content != old_file:
                began = now
            if content == new_file:
                ended = now
            time.sleep(0.0005)  # a busy loop here would slow the save it times
        click.join()
        run.end_agent(agent)
        if ended is None:
            raise SystemExit(f"the Options dialog did not save the new values; the file holds "
                             f"{content!r}")
        timings.append((began - clicked, ended - clicked))
        run.remove(agent)
    return timings


def classify(agent, whole, diary_bytes):
    """(what the settings file holds, the other files in the folder, what befell the diary)."""
    others = sorted(set(os.listdir(agent.folder)) - AGENT_FILES)
    diary = None
    if not os.path.exists(agent.mdb):
        diary = "the diary is gone"
    else:
        with open(agent.mdb, "rb") as file:
            if file.read() != diary_bytes:
                diary = "the diary changed"
    if not os.path.exists(agent.ini):
        return "missing", others, diary
    with open(agent.ini, "rb") as file:
        content = file.read()
    if content not in whole:
        return f"torn: {content!r}", others, diary
    new_keys = whole[content]
    return ("all old" if new_keys == 0 else "all new" if new_keys == len(KEYS)
            else "some keys new"), others, diary


class Tally:
    """What the kills left, counted."""

    def __init__(self):
        self.outcomes = collections.Counter()
        self.delays = collections.defaultdict(list)
        self.leftovers = self.diaries = self.crashes = self.stuck = self.outliving = 0
        self.undriven = []


def kill_once(run, whole, delay, tally, name):
    """Starts an agent, saves through Options and kills the agent delay seconds after the OK
    click; counts what it left. False when the desktop could not be driven to the save (the
    folder is still checked, but the kill is not counted)."""
    agent = run.new_agent()
    click = None
    undriven = None
    try:
        run.start(agent)
        click, clicked = run.save_new_values()
        time.sleep(max(0.0, clicked + delay - time.monotonic()))
    except desktop.DesktopError as error:
        undriven = f"{name}: {error}"
        tally.undriven.append(undriven)
        print(undriven, flush=True)
    if agent.process.poll() is not None:
        tally.crashes += 1
        print(f"{name}: the agent ended by itself with status {agent.process.returncode}",
              flush=True)
    try:
        tally.outliving += min(1, run.end_agent(agent))
    except desktop.DesktopError as error:
        if "still ran" in str(error):
            tally.stuck += 1
        print(f"{name}: {error}", flush=True)
    if click is not None:
        click.join()
    outcome, others, diary = classify(agent, whole, run.diary_bytes)
    tally.leftovers += bool(others)
    tally.diaries += bool(diary)
    if outcome.startswith("torn") or outcome == "missing" or others or diary:
        print(f"{name} after {delay * 1000:.1f} ms: {outcome}"
              + (f"; left {others}" if others else "") + (f"; {diary}" if diary else ""),
              flush=True)
    outcome = outcome.split(":")[0]
    if undriven is None or outcome in ("torn", "missing"):
        tally.outcomes[outcome] += 1
    if undriven is None:
        tally.delays[outcome].append(delay)
    run.remove(agent)
    return undriven is None


def main():
    # Stopped from outside: the desktop and the agent still go with it.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("kill_agent_options: stopped"))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                            os.path.join(ROOT, "build", "release"))
    kills = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20261208
    os.environ.setdefault("ZURODID_AGENT", os.path.join(build, "zurodid-agent"))
    os.environ.setdefault("ZURODID_MAKE_DIARY",
                          os.path.join(build, "tools", "make-diary", "make-diary"))
    chooser = random.Random(seed)
    # Every file a save may leave, with how many keys it holds as new.
    whole = {}
    for mix in itertools.product([False, True], repeat=len(KEYS)):
        values = [new if is_new else old for old, new, is_new in zip(OLD, NEW, mix)]
        whole[settings_text(values)] = sum(mix)

    tally = Tally()
    started = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="zurodid-kill-agent-") as work:
        with desktop.Desktop(work, accessibility=True) as screen:
            run = Run(screen, work)
            timings = time_saves(run)
            top = 1.25 * max(end for _, end in timings)
            kills_started = time.monotonic()
            kill = 0
            while kill < kills and len(tally.undriven) <= max(10, kills // 20):
                delay = chooser.uniform(0, top)
                if kill_once(run, whole, delay, tally, f"kill {kill}"):
                    kill += 1
            kill_seconds = (time.monotonic() - kills_started) / max(1, kill)

    print(f"{kill} kills of the agent while Options saves (seed {seed}), each a random "
          f"0 to {top * 1000:.0f} ms after the OK click")
    print("  the save timed in the agent, from the OK click, over "
          f"{len(timings)} saves: begins after "
          + ", ".join(f"{begin * 1000:.0f}" for begin, _ in timings) + " ms, ends after "
          + ", ".join(f"{end * 1000:.0f}" for _, end in timings) + " ms")
    for name in OUTCOMES:
        delays = tally.delays[name]
        span = (f"  (delays {min(delays) * 1000:.0f} to {max(delays) * 1000:.0f} ms)"
                if delays else "")
        print(f"  {tally.outcomes[name]:5d}  {name}{span}")
    print(f"  {tally.leftovers:5d}  leftovers: kills that left another file beside the agent's "
          f"own")
    print(f"  {tally.diaries:5d}  kills that left the diary changed or gone")
    print(f"  {tally.crashes:5d}  agents that ended before they were killed")
    print(f"  {tally.stuck:5d}  kills after which a child of the agent still ran {STUCK_SECONDS} s "
          f"later")
    print(f"  {tally.outliving:5d}  kills that left a child of the agent running (a save's last "
          f"step, a list refill's read), waited for")
    print(f"  {len(tally.undriven):5d}  agents that could not be driven to the save (made again)")
    for reason in tally.undriven[:10]:
        print(f"         {reason}")
    print(f"one kill took {kill_seconds:.2f} s; the whole run {time.monotonic() - started:.0f} s")
    bad = (tally.outcomes["torn"] + tally.outcomes["missing"] + tally.leftovers + tally.diaries
           + tally.crashes + tally.stuck)
    print(f"torn or missing files, leftovers, a changed diary, crashes and stuck children: {bad} "
          f"(expected 0)")
    return 0 if bad == 0 and kill == kills else 1


if __name__ == "__main__":
    sys.exit(main())
