#!/usr/bin/python3
"""Kills the settings save with SIGKILL at random moments and checks what it leaves.

  bench/platform/kill_settings_write.py [BUILD_DIR] [KILLS] [SEED]

BUILD_DIR holds bench/platform/settings_write_loop (default build/release); KILLS defaults to
1000. Each kill starts the save loop on a fresh settings file that also holds a comment and
another section, waits until it runs, kills it after a random delay, and checks that the file
is, byte for byte, the old or the new value of each of the five keys with everything else
unchanged (never torn), that nothing else is left in the folder, and that the next save
removes whatever a killed one left. A save names its new file and renames it over the old one
in a child process of its own, which a kill of the saver leaves running: before looking, this
script waits for such a child to end (it is made their subreaper) and counts those kills.
Exit status 0 when every kill left a whole file and no leftover.
"""

import itertools
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from desktop import become_subreaper  # noqa: E402

KEYS = ["StartUpRemind", "AnniversaryStartUp", "AppointmentStartUp", "Remind",
        "AppointmentRemind"]
# The two saves of settings_write_loop, in its order.
OLD = ["1", "7", "3", "1", "15"]
NEW = ["0", "30", "14", "0", "5"]


def settings_text(values):
    """The file as the save leaves it: a comment, the agent's section, another section."""
    lines = ["; Zurodid Agent", "[Agent]"]
    lines += [f"{key}={value}" for key, value in zip(KEYS, values)]
    lines += ["", "[Other]", "Kept=ข้อความ"]
    return ("\r\n".join(lines) + "\r\n").encode("cp874")


def wait_for_orphans():
    """Waits for every descendant left behind by a killed process; returns how many there were."""
    count = 0
    while True:
        try:
            os.waitpid(-1, 0)
        except ChildProcessError:
            return count
        count += 1


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else
                            os.path.join(ROOT, "build", "release"))
    kills = int(sys.argv[2]) if len(sys.argv) > 2 else 1000
    seed = int(sys.argv[3]) if len(sys.argv) > 3 else 20261208
    program = os.path.join(build, "bench", "platform", "settings_write_loop")
    chooser = random.Random(seed)
    become_subreaper()
    # Every file a save may leave, with the keys it holds as new.
    whole = {}
    for mix in itertools.product([False, True], repeat=len(KEYS)):
        values = [new if is_new else old for old, new, is_new in zip(OLD, NEW, mix)]
        whole[settings_text(values)] = sum(mix)

    with tempfile.TemporaryDirectory(prefix="zurodid-kill-") as work:
        save_seconds = measure_save(program, work)

        outcomes = {"all old": 0, "all new": 0, "some keys new": 0, "torn": 0, "missing": 0}
        leftovers = 0
        left_after_next_save = 0
        commits_outliving = 0
        delays = []
        for kill in range(kills):
            folder = os.path.join(work, f"kill-{kill}")
            os.mkdir(folder)
            path = os.path.join(folder, "Zurodid.ini")
            with open(path, "wb") as file:
                file.write(settings_text(OLD))
            loop = subprocess.Popen([program, folder], stdout=subprocess.PIPE)
            if loop.stdout.readline().strip() != b"ready":
                loop.wait()
                print(f"kill {kill}: the save loop did not start", file=sys.stderr)
                return 1
            delay = chooser.uniform(0, 3 * save_seconds)
            delays.append(delay)
            time.sleep(delay)
            loop.send_signal(signal.SIGKILL)
            loop.wait()
            loop.stdout.close()
            commits_outliving += wait_for_orphans()
            others = sorted(set(os.listdir(folder)) - {"Zurodid.ini"})
            if others:
                leftovers += 1
                print(f"kill {kill} after {delay * 1000:.2f} ms: left {others}")
            if not os.path.exists(path):
                outcomes["missing"] += 1
                continue
            with open(path, "rb") as file:
                content = file.read()
            if content not in whole:
                outcomes["torn"] += 1
                print(f"kill {kill} after {delay * 1000:.2f} ms: torn file {content!r}")
            elif whole[content] == 0:
                outcomes["all old"] += 1
            elif whole[content] == len(KEYS):
                outcomes["all new"] += 1
            else:
                outcomes["some keys new"] += 1
            # The next save (of a later agent) removes what a killed one left.
            subprocess.run([program, folder, "1"], check=True, stdout=subprocess.DEVNULL)
            if sorted(set(os.listdir(folder)) - {"Zurodid.ini"}):
                left_after_next_save += 1
            for name in os.listdir(folder):
                os.unlink(os.path.join(folder, name))
            os.rmdir(folder)

    print(f"{kills} kills of the settings save (seed {seed}), each after a random delay of "
          f"0 to {3 * save_seconds * 1000:.1f} ms (one save of five keys takes "
          f"{save_seconds * 1000:.2f} ms here)")
    for name, count in outcomes.items():
        print(f"  {count:5d}  {name}")
    print(f"  {commits_outliving:5d}  kills whose save's commit (name and rename) outlived it")
    print(f"  {leftovers:5d}  kills that left another file beside Zurodid.ini")
    print(f"  {left_after_next_save:5d}  of them with a file still there after the next save")
    bad = outcomes["torn"] + outcomes["missing"] + leftovers + left_after_next_save
    print("torn or missing files and leftovers: " + str(bad) + " (expected 0)")
    return 0 if bad == 0 else 1


def measure_save(program, work):
    """Seconds one save of five keys takes here: 200 saves timed."""
    folder = os.path.join(work, "measure")
    os.mkdir(folder)
    with open(os.path.join(folder, "Zurodid.ini"), "wb") as file:
        file.write(settings_text(OLD))
    started = time.monotonic()
    subprocess.run([program, folder, "200"], check=True, stdout=subprocess.DEVNULL)
    return (time.monotonic() - started) / 200


if __name__ == "__main__":
    sys.exit(main())
