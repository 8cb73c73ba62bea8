#!/usr/bin/python3
"""voxletter and voxletter-cli as a user starts them: what --help and --version print and where, the exit
status of each start, the one line of a composer started without a display (and no core dump), and the
manual page of voxletter-cli naming every command and option its help lists."""

import os
import re
import subprocess
import sys
import time

APP, CLI, VERSION, DIST = sys.argv[1:5]
failures = []

# Nothing of the caller's display or platform leaks into a case unless the case sets it.
BASE_ENV = {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "QT_QPA_PLATFORM")}
BASE_ENV["XDG_RUNTIME_DIR"] = BASE_ENV.get("XDG_RUNTIME_DIR", "/tmp")


def language(lang):
    """The environment of a desktop whose locale is lang, and nothing else that picks a language."""
    return {"LANG": lang, "LANGUAGE": "", "LC_ALL": "", "LC_MESSAGES": ""}


BASE_ENV.update(language("C"))  # the program's own texts, Chinese
CJK = re.compile("[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")
NO_DISPLAY_LINE = "voxletter: 没有可用的图形显示"


def run(program, args, env=None, stdout=subprocess.PIPE):
    return subprocess.run([program, *args], env=dict(BASE_ENV, **(env or {})), stdout=stdout,
                          stderr=subprocess.PIPE, timeout=60)


# What each call prints, on which stream, and its exit status.
# (what, program, args, env, status, stdout begins with, stderr: None empty, else it begins with this
#  and is one line)
cases = [
    ("composer --help", APP, ["--help"], None, 0, "Usage: voxletter ", None),
    ("composer -h", APP, ["-h"], None, 0, "Usage: voxletter ", None),
    ("composer --version", APP, ["--version"], None, 0, f"voxletter {VERSION}\n", None),
    ("composer --help without a display", APP, ["--help"], {"QT_QPA_PLATFORM": "xcb"}, 0, "Usage: ", None),
    ("tool --help", CLI, ["--help"], None, 0, "Usage: voxletter-cli ", None),
    ("tool --version", CLI, ["--version"], None, 0, f"voxletter-cli {VERSION}\n", None),
    ("tool command --help", CLI, ["compose", "--help"], None, 0, "Usage: voxletter-cli compose ", None),
    ("composer, no display at all", APP, [], None, 1, "", NO_DISPLAY_LINE),
    ("composer, X11 asked, no DISPLAY", APP, [], {"QT_QPA_PLATFORM": "xcb", "WAYLAND_DISPLAY": "wayland-9"},
     1, "", NO_DISPLAY_LINE),
    ("composer, Wayland asked, no WAYLAND_DISPLAY", APP, ["-platform", "wayland"], {"DISPLAY": ":250"}, 1, "",
     NO_DISPLAY_LINE),
    # Named but not there: Qt's own fatal end, turned into the same line.
    ("composer, DISPLAY names no server", APP, [], {"DISPLAY": ":250"}, 1, "", NO_DISPLAY_LINE),
    ("composer, -display names no server", APP, ["-display", ":251"], None, 1, "", NO_DISPLAY_LINE),
]
for what, program, args, env, status, out, err in cases:
    r = run(program, args, env)
    stdout, stderr = r.stdout.decode(), r.stderr.decode()
    problems = []
    if r.returncode != status:
        problems.append(f"exit status {r.returncode}, wanted {status}")
    if not stdout.startswith(out) or (out == "" and stdout):
        problems.append(f"standard output {stdout[:80]!r}, wanted it to begin {out!r}")
    if err is None and stderr:
        problems.append(f"standard error {stderr!r}")
    if err is not None and (not stderr.startswith(err) or stderr.count("\n") != 1 or not stderr.endswith("\n")):
        problems.append(f"standard error {stderr!r}, wanted one line beginning {err!r}")
    if problems:
        failures.append(f"{what}: " + "; ".join(problems))

# The language of --help and of the no-display line follows the locale: English for every language but
# Chinese, Chinese for zh_* and C. "Usage:" begins the help in both.
for lang, english in [("en_US.UTF-8", True), ("de_DE.UTF-8", True), ("zh_CN.UTF-8", False), ("C", False)]:
    help_line = "Print this help message and exit" if english else "显示本帮助并退出"
    no_display = "voxletter: no graphical display" if english else NO_DISPLAY_LINE
    shown = run(APP, ["--help"], language(lang))
    out = shown.stdout.decode()
    if shown.returncode != 0 or not out.startswith("Usage: voxletter ") or help_line not in out:
        failures.append(f"composer --help under {lang}: exit {shown.returncode}, {out[:200]!r}")
    refused = run(APP, [], language(lang))
    err = refused.stderr.decode()
    if refused.returncode != 1 or not err.startswith(no_display) or err.count("\n") != 1:
        failures.append(f"composer without a display under {lang}: exit {refused.returncode}, {err!r}")
    if english and (CJK.search(out) or CJK.search(err)):
        failures.append(f"Chinese characters under {lang}: {out!r} {err!r}")

# A write that fails is not success.
with open("/dev/full", "w") as full:
    for program, args in [(APP, ["--version"]), (APP, ["--help"])]:
        r = run(program, args, stdout=full)
        if r.returncode == 0:
            failures.append(f"{os.path.basename(program)} {args[0]} to a full disk: exit status 0")

# Platforms that need no display server still open the composer: it is running after two seconds.
for what, args, env in [("QT_QPA_PLATFORM=offscreen", [], {"QT_QPA_PLATFORM": "offscreen"}),
                        ("-platform offscreen", ["-platform", "offscreen"], None)]:
    p = subprocess.Popen([APP, *args], env=dict(BASE_ENV, **(env or {})), stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE)
    try:
        time.sleep(2)
        if p.poll() is not None:
            failures.append(f"composer with {what} ended at once: {p.returncode} {p.stderr.read()!r}")
    finally:
        p.kill()
        p.wait()
        p.stderr.close()

# The manual pages, English and Chinese, name every command and every option that the help lists.
ENGLISH = language("en_US.UTF-8")
pages = {name: open(os.path.join(DIST, name), encoding="utf-8").read().replace("\\-", "-")
         for name in ("voxletter-cli.1", "zh_CN/voxletter-cli.1")}
top = run(CLI, ["--help"], ENGLISH).stdout.decode()
commands = re.findall(r"^  (\w+) ", top.split("Commands:")[1], re.M)
if not commands:
    failures.append("no commands found in voxletter-cli --help")
for command in commands:
    help_text = run(CLI, [command, "--help"], ENGLISH).stdout.decode()
    options = sorted(set(re.findall(r"^\s+(?:-\w,)?(--?[\w-]+)", help_text, re.M)) - {"--help", "-h"})
    for name, page in pages.items():
        if not re.search(rf"^\.B voxletter-cli {command}$", page, re.M):
            failures.append(f"the manual page {name}'s synopsis lacks {command}")
        for option in options:
            if not re.search(rf"(?<![\w-]){re.escape(option)}(?![\w-])", page):
                failures.append(f"the manual page {name} lacks {command} {option}")

for failure in failures:
    print("FAIL:", failure)
print(f"{len(failures)} failures")
sys.exit(1 if failures else 0)
