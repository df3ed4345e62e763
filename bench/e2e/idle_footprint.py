#!/usr/bin/python3
"""The idle agent's footprint, side by side with the minimal Qt tray program and remind's
daemon: wake-ups, CPU time and resident memory over ten minutes, with a diary of 32,767
appointments for today loaded (nothing due during the run), on a private X desktop with a tray.

  bench/e2e/idle_footprint.py [BUILD_DIR] [SECONDS] [--diary missing|unreadable]

BUILD_DIR holds zurodid-agent, tools/make-diary/make-diary and bench/e2e/minimal_tray_window
(default build/release); SECONDS defaults to 600. remind comes from Debian's remind package.
A wake-up is a context switch of any thread of the program's processes (the agent's diary
reader included): each time one of them went to sleep and was woken, or was put off the CPU.
Targets: the agent wakes at most once a minute; under 40 MB resident; under 0.1 % of one CPU.
With --diary, the agent's folder has no diary, or a file in its place that is no diary: the agent
keeps trying to read it, and the same targets hold.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import desktop  # noqa: E402
from agentfolder import AgentFolder  # noqa: E402

ROWS = 32767
VOLUNTARY = ("voluntary_ctxt_switches:",)


def tree(pid):
    """pid and its descendants."""
    found, queue = [], [pid]
    while queue:
        current = queue.pop()
        found.append(current)
        try:
            with open(f"/proc/{current}/task/{current}/children") as children:
                queue += [int(child) for child in children.read().split()]
        except OSError:
            pass
    return found


def threads(pids):
    for pid in pids:
        try:
            for task in os.listdir(f"/proc/{pid}/task"):
                yield f"/proc/{pid}/task/{task}"
        except OSError:
            continue


def cpu_seconds(pids):
    """On-CPU time of all threads, from the scheduler (the clock-tick counts of /proc/PID/stat
    are too coarse for an idle minute)."""
    total = 0
    for task in threads(pids):
        try:
            with open(f"{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        except OSError:
            continue
    return total / 1e9


def wake_ups(pids, kinds=("voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:")):
    """Context switches of all threads, voluntary and not (or of the kinds given)."""
    total = 0
    for task in threads(pids):
        try:
            with open(f"{task}/status") as status:
                for line in status:
                    if line.startswith(kinds):
                        total += int(line.split()[1])
        except OSError:
            continue
    return total


def memory_kb(pid, key, where="status"):
    with open(f"/proc/{pid}/{where}") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def settle(pids_of, most=60):
    """Waits until the CPU time of the program stops growing: loaded and idle."""
    last = cpu_seconds(pids_of())
    deadline = time.monotonic() + most
    while time.monotonic() < deadline:
        time.sleep(0.5)
        now = cpu_seconds(pids_of())
        if now - last < 0.005:
            return
        last = now


def main():
    args = sys.argv[1:]
    diary = "loaded"
    if "--diary" in args:
        at = args.index("--diary")
        diary = args[at + 1]
        del args[at:at + 2]
        if diary not in ("missing", "unreadable"):
            sys.exit("--diary takes missing or unreadable")
    build = os.path.abspath(args[0] if args else os.path.join(ROOT, "build", "release"))
    seconds = int(args[1]) if len(args) > 1 else 600
    os.environ.setdefault("ZURODID_AGENT", os.path.join(build, "zurodid-agent"))
    os.environ.setdefault("ZURODID_MAKE_DIARY", os.path.join(build, "tools", "make-diary",
                                                             "make-diary"))
    remind = shutil.which("remind")
    if not remind:
        sys.exit("remind is not installed (Debian package remind)")
    with tempfile.TemporaryDirectory(prefix="zurodid-idle-") as work:
        with desktop.Desktop(work, accessibility=False) as screen:
            agent = AgentFolder(screen, os.path.join(work, "agent"))
            # Today only, advance reminders on, nothing due during the run: the idle state.
            agent.write_settings(startup_remind=0, appointment_days=0, remind=1,
                                 remind_minutes=10)
            if diary == "loaded":
                agent.write_diary(appointments=[("23:30", f"Appointment {n}")
                                                for n in range(1, ROWS + 1)])
            elif diary == "unreadable":
                with open(os.path.join(agent.folder, "Zurodid.mdb"), "wb") as out:
                    out.write(b"\0" * 4096 * 3)
            reminders = os.path.join(work, "reminders.rem")
            with open(reminders, "w", encoding="ascii") as out:
                out.write("REM AT 23:30 MSG Appointment\n")
            started = time.monotonic()
            agent_process = agent.start("09:00:00")
            screen.wait_tray_icons(1, timeout=60)
            minimal = screen.spawn([os.path.join(build, "bench", "e2e", "minimal_tray_window"),
                                    "--text"], env=screen.env())
            # Daemon mode: remind stays, wakes for its timed reminders and looks at its file
            # once a minute.
            daemon = screen.spawn([remind, "-z1", reminders], env=screen.env(),
                                  stdin=subprocess.DEVNULL)
            desktop.poll(lambda: screen.windows(desktop.AGENT_TITLE), 60,
                         "the minimal program's window")
            programs = {"agent": agent_process.pid, "minimal": minimal.pid, "remind": daemon.pid}
            for pid in programs.values():
                settle(lambda pid=pid: tree(pid))
            loaded = time.monotonic() - started
            before = {name: (wake_ups(tree(pid)), cpu_seconds(tree(pid)),
                             wake_ups(tree(pid), VOLUNTARY)) for name, pid in programs.items()}
            time.sleep(seconds)
            if diary == "loaded":
                print(f"{seconds} s idle side by side; the agent's diary of {ROWS} "
                      f"appointments today was loaded and idle {loaded:.1f} s after its start")
            else:
                print(f"{seconds} s idle side by side; the agent's diary {diary}, the agent "
                      f"trying to read it, settled {loaded:.1f} s after its start")
            # Resident: the program's first process; proportional: all its processes, the
            # pages they share counted once.
            # Slept and woken: the switches that are not the machine's other load putting a
            # running thread off the CPU.
            print(f"{'':10s}{'wake-ups':>10s}{'a minute':>10s}{'slept':>7s}{'CPU ms':>10s}"
                  f"{'% CPU':>8s}{'RSS MB':>8s}{'PSS MB':>8s}{'alive':>7s}")
            status = 0
            for name, pid in programs.items():
                pids = tree(pid)
                woke = wake_ups(pids) - before[name][0]
                slept = wake_ups(pids, VOLUNTARY) - before[name][2]
                cpu = cpu_seconds(pids) - before[name][1]
                rss = memory_kb(pid, "VmRSS") / 1024
                pss = sum(memory_kb(p, "Pss", "smaps_rollup") for p in pids) / 1024
                alive = os.path.exists(f"/proc/{pid}")
                print(f"{name:10s}{woke:10d}{woke * 60 / seconds:10.2f}{slept:7d}"
                      f"{cpu * 1000:10.1f}{100 * cpu / seconds:8.3f}{rss:8.1f}{pss:8.1f}"
                      f"{str(alive):>7s}")
                if name == "agent" and (not alive or woke * 60 / seconds > 1):
                    status = 1
            print("targets for the agent: at most 1 wake-up a minute, < 40 MB, < 0.1 % CPU")
            return status


if __name__ == "__main__":
    sys.exit(main())
