#!/usr/bin/python3
"""The idle agent's footprint: resident memory and CPU time over a minute, with a diary of
32,767 appointments for today loaded, on a private X desktop with a tray.

  bench/e2e/idle_footprint.py [BUILD_DIR] [SECONDS]

BUILD_DIR holds zurodid-agent and tools/make-diary/make-diary (default build/release).
Targets: under 40 MB resident, under 0.1 % of one CPU.
"""

import os
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import desktop  # noqa: E402
from agentfolder import AgentFolder  # noqa: E402

ROWS = 32767


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


def cpu_seconds(pids):
    """On-CPU time of all threads, in nanoseconds from the scheduler (the clock-tick counts of
    /proc/PID/stat are too coarse for an idle minute)."""
    total = 0
    for pid in pids:
        try:
            for task in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                    total += int(stat.read().split()[0])
        except OSError:
            continue
    return total / 1e9


def memory_kb(pid, key):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def agent_pid(process):
    """The agent itself, not the faketime process that started it and waits for it."""
    for pid in tree(process.pid):
        with open(f"/proc/{pid}/comm") as comm:
            if comm.read().strip() == "zurodid-agent":
                return pid
    raise RuntimeError("the agent is not running")


def run(build, rows, seconds):
    """Starts the agent on a diary of rows appointments; returns its figures after seconds."""
    with tempfile.TemporaryDirectory(prefix="zurodid-footprint-") as work:
        with desktop.Desktop(work, accessibility=False) as screen:
            agent = AgentFolder(screen, os.path.join(work, "agent"))
            # Today only, advance reminders on, nothing due during the run: the idle state.
            agent.write_settings(startup_remind=0, appointment_days=0, remind=1,
                                 remind_minutes=10)
            agent.write_diary(appointments=[("23:30", f"Appointment {n}")
                                            for n in range(1, rows + 1)])
            started = time.monotonic()
            process = agent.start("09:00:00")
            screen.wait_tray_icons(1, timeout=60)
            pid = agent_pid(process)
            # Loaded when the CPU time all but stops growing.
            last = cpu_seconds(tree(pid))
            while True:
                time.sleep(0.5)
                now = cpu_seconds(tree(pid))
                if now - last < 0.005:
                    break
                last = now
            figures = {"loaded": time.monotonic() - started}
            cpu_before = cpu_seconds(tree(pid))
            time.sleep(seconds)
            pids = tree(pid)
            figures.update(cpu=cpu_seconds(pids) - cpu_before, processes=len(pids),
                           rss=sum(memory_kb(p, "VmRSS") for p in pids) / 1024,
                           peak=memory_kb(pid, "VmHWM") / 1024, alive=process.poll() is None)
            return figures


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build",
                                                                              "release"))
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    os.environ.setdefault("ZURODID_AGENT", os.path.join(build, "zurodid-agent"))
    os.environ.setdefault("ZURODID_MAKE_DIARY", os.path.join(build, "tools", "make-diary",
                                                             "make-diary"))
    empty = run(build, 0, 2)
    full = run(build, ROWS, seconds)
    print(f"diary of {ROWS} appointments today: loaded and idle after {full['loaded']:.1f} s; "
          f"{full['processes']} process(es) at the end, running: {full['alive']}")
    print(f"resident memory: {full['rss']:.1f} MB (peak {full['peak']:.1f} MB; "
          f"{empty['rss']:.1f} MB with an empty diary); target < 40 MB")
    print(f"CPU time over {seconds} s idle: {full['cpu'] * 1000:.1f} ms = "
          f"{100 * full['cpu'] / seconds:.3f} % of one CPU; target < 0.1 %")
    return 0 if full["alive"] else 1


if __name__ == "__main__":
    sys.exit(main())
