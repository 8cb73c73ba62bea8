#!/usr/bin/python3
"""The composer as a person without a mouse and with a screen reader meets it, on a real X server (Xvfb)
with the assistive-technology bus (AT-SPI): every window met on the way is walked, and every control one
acts on must have a role and a name; then a voice mail is written, given its sound and sent with keys
alone (xdotool), and it must arrive at an exchanger of the mail world in this test's network namespace.

Without a window manager the windows place themselves and take the keyboard; with --window-manager
(openbox) the manager places, frames and focuses them. Either way every window must lie on the screen.

usage: keyboard_send_test.py VOXLETTER NET_WORLD_PY WORLD_CONF [--window-manager]
       (run through run_in_netns.sh and dbus-run-session, which gives the assistive-technology bus)
"""

import email
import email.policy
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import wave

PROGRAM, NET_WORLD, WORLD = (os.path.abspath(p) for p in sys.argv[1:4])
WINDOW_MANAGER = "--window-manager" in sys.argv[4:]
SCREEN = (1280, 800)

if not os.environ.get("VOX_NETNS"):
    print("SKIPPED: must run inside the namespace made by run_in_netns.sh")
    sys.exit(77)
# Keyboard and screen-reader behaviour is the same in every build; a sanitized program under Xvfb and
# the accessibility bus is too slow for the key timings, and its checks are covered by the window tests.
if re.search(rb"lib[at]san", subprocess.run(["ldd", PROGRAM], capture_output=True).stdout):
    print("SKIPPED: the program is built with a sanitizer")
    sys.exit(77)
for tool in ("Xvfb", "xdotool") + (("openbox",) if WINDOW_MANAGER else ()):
    if not shutil.which(tool):
        print(f"SKIPPED: {tool} is not installed (scripts/install-deps.sh installs it for the tests)")
        sys.exit(77)
try:
    import gi
    gi.require_version("Atspi", "2.0")
    from gi.repository import Atspi
except (ImportError, ValueError):
    print("SKIPPED: the AT-SPI bindings (gir1.2-atspi-2.0, python3-gi) are not installed")
    sys.exit(77)

failures = []
TITLE = "VoxLetter语音邮件2.0"  # the composer's caption

# Roles a person acts on or reads a value from; each needs a name to be told apart.
ACTIONABLE = {
    Atspi.Role.PUSH_BUTTON, Atspi.Role.TOGGLE_BUTTON, Atspi.Role.CHECK_BOX, Atspi.Role.RADIO_BUTTON,
    Atspi.Role.TEXT, Atspi.Role.ENTRY, Atspi.Role.PASSWORD_TEXT, Atspi.Role.LIST, Atspi.Role.LIST_BOX,
    Atspi.Role.TABLE, Atspi.Role.COMBO_BOX, Atspi.Role.SPIN_BUTTON, Atspi.Role.SLIDER,
    Atspi.Role.PROGRESS_BAR,
}


def check(cond, what):
    if not cond:
        failures.append(what)


def application():
    desktop = Atspi.get_desktop(0)
    for i in range(desktop.get_child_count()):
        app = desktop.get_child_at_index(i)
        if app is not None and app.get_name() == "voxletter":
            return app
    return None


def windows():
    app = application()
    if app is None:
        return []
    return [app.get_child_at_index(i) for i in range(app.get_child_count())]


def wait_window(name, timeout=15):
    """The program's window with this title, once it shows."""
    end = time.time() + timeout
    while time.time() < end:
        for w in windows():
            if w is not None and w.get_name() == name and w.get_state_set().contains(Atspi.StateType.SHOWING):
                return w
        time.sleep(0.1)
    raise SystemExit(f"FAIL: no window {name!r} within {timeout} s; windows: {[w.get_name() for w in windows()]}")


def walk(node, visit):
    if node is None or not node.get_state_set().contains(Atspi.StateType.SHOWING):
        return
    visit(node)
    for i in range(node.get_child_count()):
        walk(node.get_child_at_index(i), visit)


def check_window(window, title):
    """Every showing control one acts on has a name and a known role; returns the controls by name."""
    seen = {}

    def visit(node):
        role = node.get_role()
        if role not in ACTIONABLE:
            return
        name = node.get_name().strip()
        check(name != "", f"{title}: a {node.get_role_name()} without a name")
        check(role != Atspi.Role.UNKNOWN, f"{title}: {name!r} without a role")
        seen.setdefault(name, node)

    walk(window, visit)
    check(seen, f"{title}: no controls found")
    box = window.get_extents(Atspi.CoordType.SCREEN)
    check(box.x >= 0 and box.y >= 0 and box.x + box.width <= SCREEN[0] and box.y + box.height <= SCREEN[1],
          f"{title}: at {box.x},{box.y} {box.width}x{box.height}, not inside the {SCREEN[0]}x{SCREEN[1]} screen")
    return seen


def texts(window):
    found = []
    walk(window, lambda n: found.append(n.get_name()) if n.get_role() == Atspi.Role.LABEL else None)
    return found


def keys(*names):
    for name in names:
        subprocess.run(["xdotool", "key", "--clearmodifiers", name], check=True)
        time.sleep(0.15)


def type_text(text):
    subprocess.run(["xdotool", "type", "--delay", "20", text], check=True)
    time.sleep(0.15)


def focused_name(window):
    hit = []
    walk(window, lambda n: hit.append(n.get_name()) if n.get_state_set().contains(Atspi.StateType.FOCUSED) else None)
    return hit[-1] if hit else None


def tab_to(window, name, limit=25):
    """Presses Tab until the control of this name has the focus, as a person listening would."""
    for _ in range(limit):
        if focused_name(window) == name:
            return
        keys("Tab")
    raise SystemExit(f"FAIL: Tab never reaches {name!r} (the focus is on {focused_name(window)!r}); also {failures}")


with tempfile.TemporaryDirectory() as tmp:
    log = os.path.join(tmp, "log")
    sound = os.path.join(tmp, "greeting.wav")
    with wave.open(sound, "wb") as w:  # half a second of a quiet tone is sound enough to attach
        w.setnchannels(1), w.setsampwidth(1), w.setframerate(8000)
        w.writeframes(bytes(128 + (8 if (i // 8) % 2 else -8) for i in range(4000)))

    procs = []
    try:
        world = subprocess.Popen(["/usr/bin/python3", NET_WORLD, "--world", WORLD, "--log", log],
                                 stdout=subprocess.PIPE)
        procs.append(world)
        if world.stdout.readline() != b"ready\n":
            raise SystemExit("FAIL: the mail world did not come up")

        # 1280 by 800 at 96 dpi. The first display number without a lock file or socket; the server is up
        # once a client gets through.
        number = next(n for n in range(91, 200)
                      if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"))
        display = f":{number}"
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", f"{SCREEN[0]}x{SCREEN[1]}x24", "-dpi", "96",
                                 "-nolisten", "tcp"])
        procs.append(xvfb)
        end = time.time() + 30  # a busy machine starts Xvfb slowly
        while time.time() < end and subprocess.run(["xdotool", "getdisplaygeometry"], capture_output=True,
                                                   env=dict(os.environ, DISPLAY=display)).returncode != 0:
            time.sleep(0.1)
        if WINDOW_MANAGER:
            manager = subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=display, HOME=tmp))
            procs.append(manager)
            end = time.time() + 30  # the manager is up once the root window names it
            while time.time() < end and b"_NET_SUPPORTING_WM_CHECK(WINDOW)" not in subprocess.run(
                    ["xprop", "-root", "-display", display, "_NET_SUPPORTING_WM_CHECK"], capture_output=True).stdout:
                time.sleep(0.1)
        env = dict(os.environ, DISPLAY=display, QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   QT_ACCESSIBILITY="1", HOME=tmp, XDG_DATA_HOME=os.path.join(tmp, "data"))
        os.environ["DISPLAY"] = display
        program = subprocess.Popen([PROGRAM], env=env, cwd=tmp)
        procs.append(program)

        # The first window waits for the program to start and to join the accessibility bus, which takes a
        # while under a sanitizer or on a busy machine.
        composer = wait_window(TITLE, timeout=60)
        controls = check_window(composer, "composer")
        for name in ("发件人(F)", "添加附件", "附件", "发送", "声音"):
            check(name in controls, f"composer: no control named {name!r} (have {sorted(controls)})")
        for _ in range(50):  # the window is shown; the focus follows once it is active
            if focused_name(composer) == "发件人(F)":
                break
            time.sleep(0.1)
        check(focused_name(composer) == "发件人(F)", f"focus at start on {focused_name(composer)!r}")

        # The styling windows, each opened by its button from the keyboard, walked and closed with Escape.
        for title in ("字体", "格式", "背景"):
            tab_to(composer, title)
            keys("space")
            check_window(wait_window(title), title)
            keys("Escape")
            composer = wait_window(TITLE)

        # The sender, the recipient, the subject and the body by mnemonic; then the sound, whose file
        # chooser takes the typed path.
        keys("alt+f")
        type_text("me@accept.test")
        keys("alt+t")
        type_text("you@accept.test")
        keys("alt+s")
        type_text("keyboard only")
        keys("alt+x")
        type_text("Hello by keys alone.")
        tab_to(composer, "声音")
        keys("space")
        sound_window = wait_window("添加声音")
        check_window(sound_window, "添加声音")
        # The recording window from the sound window's 录音 button, walked and closed.
        tab_to(sound_window, "录音")
        keys("space")
        check_window(wait_window("录音"), "录音")
        keys("Escape")
        sound_window = wait_window("添加声音")
        tab_to(sound_window, "选择声音文件")
        keys("space")
        time.sleep(1.0)  # Qt's own file chooser; its file name field has the focus
        type_text(sound)
        keys("Return")
        time.sleep(0.5)
        keys("Return")  # OK is the sound window's default button

        composer = wait_window(TITLE)
        keys("ctrl+Return")
        report = wait_window("信息", timeout=60)
        shown = texts(report)
        # The report's text, then the line that says where the sent copy is kept.
        check(any(t.startswith("发送完毕") for t in shown), f"the report reads {shown!r}")
        check_window(report, "信息")
        keys("Return")

        end = time.time() + 10
        while not glob.glob(os.path.join(log, "127.0.0.2", "*.eml")) and time.time() < end:
            time.sleep(0.1)
        mails = glob.glob(os.path.join(log, "127.0.0.2", "*.eml"))
        check(len(mails) == 1, f"{len(mails)} mails delivered")
        if mails:
            mail = email.message_from_bytes(open(mails[0], "rb").read(), policy=email.policy.default)
            check(mail["Subject"] == "keyboard only", f"Subject {mail['Subject']!r}")
            parts = [p.get_filename() for p in mail.walk() if p.get_filename()]
            check("greeting.wav" in parts, f"the attached parts {parts!r}")
            html = [p.get_content() for p in mail.walk() if p.get_content_type() == "text/html"]
            check(html and "Hello by keys alone." in html[0], "the body text is not in the page")
    finally:
        for p in reversed(procs):
            p.terminate()
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
