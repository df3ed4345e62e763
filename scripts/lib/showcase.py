"""Shows the agent on a private X desktop (Xvfb, openbox, trayer) and photographs it.

  showcase.py demo FOLDER SHOTS SECONDS   run the agent in FOLDER on the real clock for up to
                                          SECONDS; shoot the list window and the first reminder
  showcase.py screenshots OUT             the pictures of the README, on a fixed clock and
                                          diary (needs ZURODID_AGENT and ZURODID_MAKE_DIARY)
"""

import os
import shutil
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # keep the source tree clean
# The desktop harness is shared with the end-to-end tests.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "e2e"))

import desktop  # noqa: E402
from agentfolder import LOGIN_TITLE, AgentFolder  # noqa: E402
from desktop import AGENT_TITLE  # noqa: E402


def frame_of(screen, window):
    """The window with its title bar and border, as (x, y, width, height)."""
    return screen.frame(window)


def shoot(screen, path, box=None, margin=0):
    """Takes the screen, or the box (x, y, width, height) of it with a margin, into path."""
    screen.screenshot(path, crop=box, margin=margin)
    print(f"  {path}")
    return path


def union(*boxes):
    left = min(b[0] for b in boxes)
    top = min(b[1] for b in boxes)
    right = max(b[0] + b[2] for b in boxes)
    bottom = max(b[1] + b[3] for b in boxes)
    return left, top, right - left, bottom - top


def agent_windows(screen, dialogs):
    return [w for w in screen.windows(AGENT_TITLE)
            if ("DIALOG" in screen.window_type(w)) == dialogs]


def wait_for(screen, dialogs, timeout):
    return desktop.poll(lambda: next(iter(agent_windows(screen, dialogs)), None), timeout,
                        "a reminder box" if dialogs else "the list window", interval=0.2)


def demo(folder, shots, seconds):
    """Runs the agent already laid out in folder on a private desktop on the real clock."""
    os.makedirs(shots, exist_ok=True)
    work = tempfile.mkdtemp(prefix="zurodid-demo-")
    screen = desktop.Desktop(work, accessibility=False)
    try:
        screen.start()
        agent = screen.spawn([os.path.join(folder, "zurodid-agent")], env=screen.env())
        screen.wait_tray_icons(1)
        print(f"The agent runs on a private desktop ({screen.display}); screenshots:")
        listing = wait_for(screen, dialogs=False, timeout=15)
        time.sleep(0.5)
        shoot(screen, os.path.join(shots, "demo-list.png"))
        print(f"Waiting up to {seconds} s for the first reminder ...")
        box = wait_for(screen, dialogs=True, timeout=seconds)
        time.sleep(0.5)
        shoot(screen, os.path.join(shots, "demo-reminder.png"))
        del listing, box
        if agent.poll() is not None:
            raise desktop.DesktopError(f"the agent ended with code {agent.returncode}")
    finally:
        screen.stop()
        shutil.rmtree(work, ignore_errors=True)


def screenshots(out):
    """The README's pictures: the same diary, settings and clock every time."""
    os.makedirs(out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="zurodid-shots-")
    screen = desktop.Desktop(work)
    try:
        screen.start()
        agent = AgentFolder(screen, os.path.join(work, "agent"))
        agent.write_settings(startup_remind=1, anniversary_days=30, appointment_days=7,
                             remind=0, remind_minutes=10)
        agent.write_diary(
            anniversaries=[(0, "วันเกิดคุณแม่"), (2, "Wedding anniversary"),
                           (9, "วันพ่อแห่งชาติ"), (21, "Christmas Eve")],
            appointments=[("09:05", "ประชุมทีม / Team meeting"), ("12:30", "Lunch with Somchai"),
                          ("16:00", "ส่งรายงาน"), (1, "09:00", "Dentist"),
                          (3, "14:00", "นัดหมอฟัน")])
        # The on-time box of 09:05 comes about 40 s after the start: time for the other shots.
        agent.start("09:04:20")
        screen.wait_tray_icons(1)
        print("Screenshots:")
        listing = wait_for(screen, dialogs=False, timeout=15)
        time.sleep(0.8)
        shoot(screen, os.path.join(out, "list-window.png"), frame_of(screen, listing), 8)

        icon = screen.tray_icons()[0]
        screen.click_tray_icon(button=3)
        menu = screen.wait_popup_menu()
        time.sleep(0.5)
        shoot(screen, os.path.join(out, "tray-menu.png"),
              union(screen.geometry(menu), icon), 8)
        screen.keys("Escape")
        screen.choose_menu_item("Options")
        options = screen.wait_window("Options")
        time.sleep(0.8)
        shoot(screen, os.path.join(out, "options.png"), frame_of(screen, options), 8)
        screen.close_window(options)
        screen.wait_no_window("Options")

        screen.choose_menu_item("About")
        about = screen.wait_window("Zurodid")
        time.sleep(0.8)
        shoot(screen, os.path.join(out, "about.png"), frame_of(screen, about), 8)
        screen.close_window(about)
        screen.wait_no_window("Zurodid")

        box = wait_for(screen, dialogs=True, timeout=60)
        time.sleep(0.8)
        shoot(screen, os.path.join(out, "reminder.png"), frame_of(screen, box), 8)
        screen.stop()

        screen = desktop.Desktop(work)
        screen.start()
        locked = AgentFolder(screen, os.path.join(work, "locked"))
        locked.write_settings()
        locked.write_diary(password="secret")
        locked.start("09:00:00")
        login = screen.wait_window(LOGIN_TITLE)
        screen.activate(login)
        screen.type_text("secret")
        time.sleep(0.8)
        shoot(screen, os.path.join(out, "log-in.png"), frame_of(screen, login), 8)
    finally:
        screen.stop()
        shutil.rmtree(work, ignore_errors=True)


def main(argv):
    if len(argv) == 4 and argv[0] == "demo":
        demo(argv[1], argv[2], int(argv[3]))
    elif len(argv) == 2 and argv[0] == "screenshots":
        screenshots(argv[1])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
