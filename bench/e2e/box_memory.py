#!/usr/bin/python3
"""Resident memory of the agent around one reminder box, on a private X desktop with a tray:
a diary whose memo says 16 MB and whose page chain loops (make-diary --damage looping-memo),
against one with a short subject.

  bench/e2e/box_memory.py [BUILD_DIR]

BUILD_DIR holds zurodid-agent and tools/make-diary/make-diary (default build/release). For each
diary: resident memory once the agent has settled, how long the box took to show after its
minute began, resident memory while it is open and after it has closed. Target: after the box,
back within a few MB of before.
"""

import os
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import desktop  # noqa: E402
from agentfolder import FAKE_DAY, AgentFolder  # noqa: E402

START = "09:04:40"  # 20 s before the box's minute
BOX_MINUTE = "09:05"


def rss_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def description(subject):
    return (f"table Anniversary\ntable Appointment\ncolumn When datetime\ncolumn Subject memo\n"
            f"row {FAKE_DAY} {BOX_MINUTE} | {subject}\n")


def measure(screen, work, name, subject, damage):
    agent = AgentFolder(screen, os.path.join(work, name))
    agent.write_settings()
    damaged = ["--damage", damage] if damage else []
    subprocess.run([os.environ["ZURODID_MAKE_DIARY"], *damaged, "-", agent.mdb], check=True,
                   input=description(subject).encode(), timeout=60)
    process = agent.start(START)
    screen.wait_tray_icons(1, timeout=30)
    time.sleep(10)  # settled: start-up done, caches warm
    before = rss_mb(process.pid)
    box_due = agent.started_at + 20
    box = screen.wait_window(desktop.AGENT_TITLE, timeout=120, kind="DIALOG")
    shown_after = time.time() - box_due
    during = rss_mb(process.pid)
    screen.activate(box)
    screen.keys("Return")
    desktop.poll(lambda: box not in screen.windows(desktop.AGENT_TITLE), 60, "the box to close")
    time.sleep(5)
    after = rss_mb(process.pid)
    print(f"{name:>13}: before {before:6.1f} MB, box shown {shown_after:5.1f} s after its minute "
          f"began, open {during:6.1f} MB, closed {after:6.1f} MB ({after - before:+.1f} MB)",
          flush=True)
    process.kill()
    screen.wait_killed(process)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1
                            else os.path.join(ROOT, "build", "release"))
    os.environ.setdefault("ZURODID_AGENT", os.path.join(build, "zurodid-agent"))
    os.environ.setdefault("ZURODID_MAKE_DIARY",
                          os.path.join(build, "tools", "make-diary", "make-diary"))
    with tempfile.TemporaryDirectory(prefix="zurodid-box-memory-") as work:
        with desktop.Desktop(work, accessibility=False) as screen:
            measure(screen, work, "short subject", "Dentist", None)
            measure(screen, work, "looping memo", "0123456789" * 6000, "looping-memo")


if __name__ == "__main__":
    main()
