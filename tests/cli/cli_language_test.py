#!/usr/bin/python3
"""voxletter-cli speaks the user's language: its help, its refusals and the field check's messages are
English under an English (or any non-Chinese) locale, with no Chinese character anywhere, and Chinese
under zh_CN and C. --help goes to standard output and begins "Usage:" in every language.

usage: cli_language_test.py VOXLETTER_CLI
"""

import os
import re
import subprocess
import sys
import tempfile

CLI = os.path.abspath(sys.argv[1])
CJK = re.compile("[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef]")
GOOD = ["--from", "me@x.org", "--to", "a@b.com"]
failures = []

# (what, arguments, exit status, where the text is, English texts, Chinese texts)
CASES = [
    ("help", ["--help"], 0, "stdout",
     ["Usage: voxletter-cli [OPTIONS] [COMMAND]\n", "Print this help message and exit", "\nCommands:\n",
      "COMMAND --help lists the options of one command."],
     ["Usage: voxletter-cli [OPTIONS] [COMMAND]\n", "显示本帮助并退出", "\n命令:\n", "COMMAND --help 列出一个命令的选项。"]),
    ("a command's help", ["record", "--help"], 0, "stdout",
     ["Usage: voxletter-cli record [OPTIONS]\n", "\nOptions:\n", "samples per second", "Exit status: 0 written"],
     ["Usage: voxletter-cli record [OPTIONS]\n", "\n选项:\n", "每秒采样数", "退出状态：0 已写入"]),
    ("positionals", ["outbox", "--help"], 0, "stdout",
     ["\nPositionals:\n  action ", "list, retry or drop"], ["\n参数:\n  action ", "list、retry或drop"]),
    ("refused address", ["compose", "--from", "me@x.org", "--to", "a@b.com;;c@d.com"], 2, "stderr",
     ["voxletter-cli compose: Please fill in the recipients correctly\n", '  the entry "" at byte 8 is not an address\n'],
     ["voxletter-cli compose: 请正确填写收件人\n", '  条目""（第8字节）不是邮件地址\n']),
    ("refused sender", ["compose", "--to", "a@b.com"], 2, "stderr",
     ["voxletter-cli compose: Please fill in the sender correctly\n"], ["voxletter-cli compose: 请正确填写发件人\n"]),
    ("unknown option", ["compose", "--frm", "x"], 2, "stderr",
     ['voxletter-cli compose: unknown option "--frm" (--help lists the options)\n'],
     ['voxletter-cli compose: 未知的选项"--frm"（--help列出选项）\n']),
    ("value refused", ["record", "--rate", "5"], 2, "stderr",
     ['option --rate needs 8000, 11025, 22050 or 44100, not "5"'], ['选项--rate需要8000、11025、22050或44100，而不是"5"']),
    ("not one of the actions", ["outbox", "lisst"], 2, "stderr",
     ['the action "lisst" is not one of {list,retry,drop}'], ['action"lisst"不是{list,retry,drop}之一']),
    ("unknown command", ["mail"], 2, "stderr",
     ['voxletter-cli: unknown command "mail" (--help lists the commands)\n'], ['voxletter-cli: 未知的命令"mail"（--help列出命令）\n']),
    ("empty outbox", ["outbox", "list"], 0, "stdout", [""], [""]),
    ("drop of nobody", ["outbox", "drop", "x@y.z"], 1, "stderr",
     ["voxletter-cli outbox: x@y.z does not wait in the outbox\n"], ["voxletter-cli outbox: x@y.z不在发件箱中等待\n"]),
]

# Each locale as a desktop sets it, and nothing else that picks a language.
LOCALES = [("en_US.UTF-8", True), ("de_DE.UTF-8", True), ("zh_CN.UTF-8", False), ("C", False)]

with tempfile.TemporaryDirectory() as tmp:
    base = {k: v for k, v in os.environ.items() if k not in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG")}
    base.update(XDG_STATE_HOME=os.path.join(tmp, "state"), XDG_CONFIG_HOME=os.path.join(tmp, "config"),
                XDG_DATA_HOME=os.path.join(tmp, "data"))
    for lang, english in LOCALES:
        env = dict(base, LANG=lang)
        for what, args, status, stream, english_texts, chinese_texts in CASES:
            r = subprocess.run([CLI, *args], capture_output=True, timeout=30, env=env, cwd=tmp)
            out, err = r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")
            said = out if stream == "stdout" else err
            wanted = english_texts if english else chinese_texts
            problems = []
            if r.returncode != status:
                problems.append(f"exit status {r.returncode}, wanted {status}")
            if args[-1] == "--help" and (not out.startswith("Usage: ") or err):
                problems.append("the help is not on standard output beginning with Usage:")
            if what == "empty outbox" and (out or err):
                problems.append("an empty outbox printed something")
            problems += [f"lacks {text!r}" for text in wanted if text not in said]
            if english and CJK.search(out + err):
                problems.append(f"Chinese characters: {CJK.findall(out + err)[:5]}")
            if problems:
                failures.append(f"{what} under {lang}: " + "; ".join(problems) + f"\n  stdout {out[:300]!r}\n"
                                f"  stderr {err[:300]!r}")

for failure in failures:
    print("FAIL:", failure)
print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
