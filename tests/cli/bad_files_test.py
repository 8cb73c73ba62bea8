#!/usr/bin/python3
"""Files that are not what they seem, given to voxletter-cli: each is refused with its field's message and
the right exit status, nothing blocks, nothing is read until memory runs out, nothing dumps core, and a
failed write leaves no file behind. Usage: bad_files_test.py VOXLETTER-CLI"""

import glob
import os
import re
import subprocess
import sys
import tempfile

CLI = os.path.abspath(sys.argv[1])
GOOD = ["--from", "me@x.org", "--to", "a@b.com"]
failures = []
skipped = []
is_root = os.geteuid() == 0
# The address-space limit cannot be used under AddressSanitizer, which reserves terabytes of shadow.
sanitized = re.search(rb"lib[at]san", subprocess.run(["ldd", CLI], capture_output=True).stdout) is not None
has_picture = subprocess.run([CLI, "picture", "--help"], capture_output=True).returncode == 0

with tempfile.TemporaryDirectory() as tmp:
    os.chmod(tmp, 0o755)
    # A copy of the tool in a folder of its own, so that its program folder holds no "Sound.wav" left there
    # by another test.
    own = os.path.join(tmp, "bin")
    os.mkdir(own)
    subprocess.run(["cp", CLI, own], check=True)
    own_cli = os.path.join(own, os.path.basename(CLI))
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(tmp, "data"), XDG_STATE_HOME=os.path.join(tmp, "state"))
    fifo = os.path.join(tmp, "fifo")
    os.mkfifo(fifo)
    folder = os.path.join(tmp, "folder")
    os.mkdir(folder)
    secret = os.path.join(tmp, "secret.txt")
    with open(secret, "w") as f:
        f.write("root only")
    os.chmod(secret, 0o600)
    gone = os.path.join(tmp, "gone.txt")
    huge = os.path.join(tmp, "huge.bin")  # sparse: takes no disk
    with open(huge, "wb") as f:
        f.truncate(3 << 30)
    big = os.path.join(tmp, "big.bin")
    with open(big, "wb") as f:
        f.truncate(1 << 30)
    full = os.path.join(tmp, "full")
    os.mkdir(full)
    filler = os.path.join(tmp, "filler.bin")
    with open(filler, "wb") as f:
        f.write(os.urandom(2 << 20))

    # A user who may not read the file: root reads past any mode, so that row runs as nobody.
    as_nobody = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
    limit_1g = ["prlimit", "--as=%d" % (1 << 30)]

    mounted = False
    if is_root:
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", full]).returncode == 0

    # (what, prefix, command line, exit status, text on standard error, skip reason or None)
    rows = [
        ("FIFO as body", [], ["compose", *GOOD, "--body-file", fifo], 2, "不是可读的普通文件", None),
        ("FIFO as attachment", [], ["compose", *GOOD, "--attach", fifo], 2, "无法访问到附件文件" + fifo, None),
        ("FIFO as sound", [], ["compose", *GOOD, "--sound", fifo], 2, "无法访问到声音文件", None),
        ("FIFO as background", [], ["compose", *GOOD, "--background-picture", fifo], 2, "无法访问到背景图片文件",
         None),
        ("FIFO as picture", [], ["picture", fifo], 1, "无法打开文件", None if has_picture else "no picture command"),
        ("folder as body", [], ["compose", *GOOD, "--body-file", folder], 2, "不是可读的普通文件", None),
        ("folder as attachment", [], ["compose", *GOOD, "--attach", folder], 2, "无法访问到附件文件", None),
        ("/dev/zero as body", [], ["compose", *GOOD, "--body-file", "/dev/zero"], 2, "不是可读的普通文件",
         None),
        ("/dev/zero as attachment", [], ["compose", *GOOD, "--attach", "/dev/zero"], 2, "无法访问到附件文件", None),
        ("/dev/zero as picture", [], ["picture", "/dev/zero"], 1, "无法打开文件",
         None if has_picture else "no picture command"),
        ("unreadable attachment", as_nobody, ["compose", *GOOD, "--attach", secret], 2, "无法访问到附件文件",
         None if is_root else "needs root to become another user"),
        ("unreadable body", as_nobody, ["compose", *GOOD, "--body-file", secret], 2, "不是可读的普通文件",
         None if is_root else "needs root to become another user"),
        ("vanished attachment", [], ["compose", *GOOD, "--attach", gone], 2, "无法访问到附件文件" + gone, None),
        ("recording missing", [], ["send", *GOOD, "--recording"], 2, "无法访问到录音文件", None),
        ("3 GiB attachment", limit_1g, ["compose", *GOOD, "--attach", huge], 2, "邮件太大，无法发送",
         "AddressSanitizer" if sanitized else None),
        ("3 GiB body", limit_1g, ["compose", *GOOD, "--body-file", huge], 2, "邮件太大，无法发送",
         "AddressSanitizer" if sanitized else None),
        # Passes the size check, but the memory for it cannot be had.
        ("1 GiB attachment, 1 GiB of memory", limit_1g, ["compose", *GOOD, "--attach", big], 1,
         "邮件太大，无法发送", "AddressSanitizer" if sanitized else None),
        ("full disk", [], ["compose", *GOOD, "--attach", filler, "-o", os.path.join(full, "mail.eml")], 1,
         "无法写入", None if mounted else "needs root to mount a small tmpfs"),
    ]
    # No folder for the program's files: the tool's own folder is read-only and $XDG_DATA_HOME cannot be
    # made. Recording and sending a recording say so; nothing goes to the current folder. The folder holds
    # a copy of the tool: room for a sanitized build of it (over 64 MB).
    ro = os.path.join(tmp, "ro")
    os.mkdir(ro)
    ro_cli = os.path.join(ro, "voxletter-cli")
    ro_mounted = False
    if is_root and subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256m", "tmpfs", ro]).returncode == 0:
        ro_mounted = True
        subprocess.run(["cp", CLI, ro_cli], check=True)
        subprocess.run(["mount", "-o", "remount,ro", ro], check=True)
    no_folder = None if ro_mounted else "needs root to mount a read-only folder"
    unwritable = ["env", "XDG_DATA_HOME=" + os.path.join(secret, "below-a-file")]
    rows += [
        ("no program folder, send --recording", unwritable, ["send", *GOOD, "--recording"], 2, "无法保存录音", no_folder),
        ("no program folder, record", unwritable, ["record", "--seconds", "1"], 1, "无法保存录音", no_folder),
    ]
    try:
        for what, prefix, args, code, text, skip in rows:
            if skip:
                skipped.append(f"{what}: {skip}")
                continue
            cli = ro_cli if what.startswith("no program folder") else own_cli
            r = subprocess.run(prefix + [cli, *args], capture_output=True, timeout=60, env=env, cwd=tmp)
            err = r.stderr.decode("utf-8", "replace")
            if r.returncode != code or text not in err:
                failures.append(f"{what}: exit {r.returncode}, stderr {err[-300:]!r}; wanted {code} and {text!r}")
            elif args[0] == "compose" and "-o" not in args and r.stdout:
                failures.append(f"{what}: a refused mail was written to standard output")
        if mounted:
            left = os.listdir(full)
            if left:
                failures.append(f"full disk: left behind {left}")
        if glob.glob(os.path.join(tmp, "core*")):
            failures.append("a core file was written")
        if os.path.exists(os.path.join(tmp, "Sound.wav")) or os.path.exists(os.path.join(tmp, "tempRecord")):
            failures.append("a recording file was put in the current folder")
    finally:
        if mounted:
            subprocess.run(["umount", full])
        if ro_mounted:
            subprocess.run(["umount", ro])

for s in skipped:
    print("skipped:", s)
for f in failures:
    print("FAIL:", f)
print(f"{len(rows) - len(skipped) - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
