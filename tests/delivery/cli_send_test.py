#!/usr/bin/python3
"""voxletter-cli send end to end, inside a network namespace with the test mail world
(tests/harness/net): the report on standard output, progress on standard error, the exit status, the
mail as the server stored it, Ctrl+C in the middle of a transfer, and the outbox across a killed retry.

usage: cli_send_test.py VOXLETTER_CLI NET_WORLD_PY WORLD_CONF   (run through run_in_netns.sh)
"""

import os
import re
import signal
import subprocess
import sys
import tempfile
import time

CLI, NET_WORLD, WORLD = (os.path.abspath(p) for p in sys.argv[1:4])
PYTHON = "/usr/bin/python3"
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def without_date(mail):
    # Two builds of the same draft differ only in the moment and the unique Message-ID.
    return b"".join(l for l in mail.splitlines(keepends=True)
                    if not l.startswith((b"Date: ", b"Message-ID: ")))


def wait_for(path, seconds=5):
    end = time.time() + seconds
    while not os.path.exists(path) and time.time() < end:
        time.sleep(0.01)
    return os.path.exists(path)


if not os.environ.get("VOX_NETNS"):
    print("SKIPPED: must run inside the namespace made by run_in_netns.sh")
    sys.exit(77)

with tempfile.TemporaryDirectory() as tmp:
    # Sent copies go to a folder of the test's own, for every send below.
    os.environ["XDG_DATA_HOME"] = os.path.join(tmp, "data")
    sent_cur = os.path.join(tmp, "data", "voxletter", "Sent", "cur")
    log = os.path.join(tmp, "log")
    # Every run keeps its waiting recipients in an outbox of this test's own.
    os.environ["XDG_STATE_HOME"] = os.path.join(tmp, "state")
    outbox_dir = os.path.join(tmp, "state", "voxletter", "outbox")
    world = subprocess.Popen([PYTHON, NET_WORLD, "--world", WORLD, "--log", log], stdout=subprocess.PIPE)
    try:
        if world.stdout.readline() != b"ready\n":
            print("the mail world did not come up")
            sys.exit(1)

        # One delivered, one refused: the report names the refused one only, exit status 1.
        fields = ["--from", "me@here.test", "--to", "a@accept.test;b@refuse.test", "--subject", "你好",
                  "--body", "第一行\n第二行"]
        r = subprocess.run([CLI, "send", *fields], capture_output=True, timeout=60)
        check(r.returncode == 1, f"exit {r.returncode}, wanted 1")
        want = ("以下邮件地址不能正确投递\r\n\r\nb@refuse.test\r\n失败原因："
                "550 5.1.1 <b@refuse.test>: Recipient address rejected\r\n\r\n\r\n").encode()
        check(r.stdout == want, f"report {r.stdout!r}")
        err = r.stderr.decode()
        for line in ["a@accept.test: 正在建立连接...", "a@accept.test: 已经传输数据0字节，共",
                     "a@accept.test: 正在断开连接...", "b@refuse.test: 正在指定收件人...",
                     "b@refuse.test: 正在断开连接..."]:
            check(line in err, f"no progress line {line!r} in {err!r}")

        # The stored mail is the composed one, byte for byte (the date aside), plus the line end that the
        # end-of-data line gives a mail ending in CR LF.
        composed = subprocess.run([CLI, "compose", *fields], capture_output=True, timeout=60).stdout
        stored_path = os.path.join(log, "127.0.0.2", "1.eml")
        check(wait_for(stored_path), "nothing stored by the accepting server")
        if os.path.exists(stored_path):
            stored = open(stored_path, "rb").read()
            check(without_date(stored) == without_date(composed) + b"\r\n", "stored mail differs from composed")
            # The sent copy is the mail exactly as it went out, named as a seen Maildir message.
            m = re.search(r"voxletter-cli send: 已发邮件的副本：(\S+)\n", err)
            check(m is not None and os.path.dirname(m.group(1)) == sent_cur and
                  re.fullmatch(r"\d+\.M\d+P\d+Q\d+\.[^/:]+:2,S", os.path.basename(m.group(1))) is not None,
                  f"no sent copy named on stderr: {err[-300:]!r}")
            if m is not None and os.path.exists(m.group(1)):
                check(open(m.group(1), "rb").read() + b"\r\n" == stored, "the sent copy differs from the mail sent")
            check(all(os.path.isdir(os.path.join(tmp, "data", "voxletter", "Sent", d)) for d in ("tmp", "new")),
                  "the Sent folder is no Maildir")
        r = subprocess.run([CLI, "send", *fields, "--no-sent-copy"], capture_output=True, timeout=60)
        check(r.returncode == 1 and "已发邮件的副本".encode() not in r.stderr and len(os.listdir(sent_cur)) == 1,
              f"--no-sent-copy kept a copy: {r.stderr[-300:]!r}")

        # Everyone delivered: "发送完毕", exit status 0.
        r = subprocess.run([CLI, "send", "--from", "me@here.test", "--to", "a@accept.test", "--bcc",
                            "c@split.test"], capture_output=True, timeout=60)
        check(r.returncode == 0 and r.stdout == "发送完毕\r\n".encode(), f"all delivered: {r.returncode} {r.stdout!r}")

        # Each delivered recipient's status line says whether the mail travelled encrypted.
        check("a@accept.test: 已投递（未加密）：250 OK stored" in r.stderr.decode(), f"no delivered line in {r.stderr!r}")

        # Through the relay: the password from a private file or the environment, never the command line;
        # settings from the config folder when no --relay is given; a file others can read is refused.
        env = dict(os.environ, SSL_CERT_FILE=os.path.join(log, "relay-ca.pem"))
        env.pop("VOXLETTER_RELAY_PASSWORD", None)
        pw = os.path.join(tmp, "pw")
        with open(pw, "w") as f:
            f.write("right horse\n")
        os.chmod(pw, 0o600)
        config = os.path.join(tmp, "config")
        os.makedirs(os.path.join(config, "voxletter"))
        conf = os.path.join(config, "voxletter", "relay.conf")
        with open(conf, "w") as f:
            f.write("host = relay.test:587\nuser = sender\npassword-file = %s\n" % pw)
        os.chmod(conf, 0o600)
        mail = ["--from", "me@here.test", "--to", "x@one.test;y@two.test"]
        wrong = dict(env, VOXLETTER_RELAY_PASSWORD="wrong horse")
        relay = ["--relay", "relay.test:465", "--relay-user", "sender"]
        cases = [
            ("password file", relay + ["--relay-password-file", pw], env, 0, "发送完毕\r\n".encode(), "x@one.test: 已投递（加密传输）"),
            ("wrong password from the environment", relay, wrong, 1,
             ("以下邮件地址不能正确投递\r\n\r\nx@one.test\r\n失败原因：发件服务器 relay.test:465 拒绝登录：535 5.7.8 Authentication credentials invalid\r\n\r\n\r\n"
              "y@two.test\r\n失败原因：发件服务器 relay.test:465 拒绝登录：535 5.7.8 Authentication credentials invalid\r\n\r\n\r\n").encode(), ""),
            ("password on the command line", relay + ["--relay-password", "x"], env, 2, b"", "--relay-password-file"),
            ("no password at all", relay, env, 2, b"", "VOXLETTER_RELAY_PASSWORD"),
            ("settings file", [], dict(env, XDG_CONFIG_HOME=config), 0, "发送完毕\r\n".encode(), "通过中继relay.test:587发送"),
        ]
        for what, extra, e, status, out, err in cases:
            r = subprocess.run([CLI, "send", *mail, *extra], capture_output=True, timeout=60, env=e)
            check(r.returncode == status and r.stdout == out and err in r.stderr.decode(),
                  f"relay, {what}: {r.returncode} {r.stdout!r} {r.stderr.decode()[-300:]!r}")
        for path in (pw, conf):
            os.chmod(path, 0o644)
            r = subprocess.run([CLI, "send", *mail, "--relay", "relay.test", "--relay-user", "sender",
                                "--relay-password-file", pw] if path == pw else [CLI, "send", *mail],
                               capture_output=True, timeout=60, env=dict(env, XDG_CONFIG_HOME=config))
            check(r.returncode == 2 and b"chmod 600" in r.stderr, f"readable {path}: {r.returncode} {r.stderr!r}")
            os.chmod(path, 0o600)

        # Field check refusals stay with exit status 2 and deliver nothing.
        r = subprocess.run([CLI, "send", "--from", "me@here.test", "--to", "nobody"], capture_output=True,
                           timeout=60)
        check(r.returncode == 2 and r.stdout == b"", f"refused input: {r.returncode} {r.stdout!r}")

        # Ctrl+C during a long transfer: that recipient and the next are reported cancelled, and the
        # server saw neither the end-of-data line nor QUIT. Progress lines fill the pipe, so the tool
        # cannot run far ahead of this reader.
        big = os.path.join(tmp, "big.bin")
        with open(big, "wb") as f:
            f.write(os.urandom(5 * 1024 * 1024))
        p = subprocess.Popen([CLI, "send", "--from", "me@here.test", "--to", "a@record.test;b@accept.test",
                              "--attach", big], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for raw in p.stderr:
            if "已经传输数据".encode() in raw:
                p.send_signal(signal.SIGINT)
                break
        rest_err = p.stderr.read()
        out = p.stdout.read()
        p.wait(timeout=60)
        check(p.returncode == 1, f"cancelled: exit {p.returncode}")
        check(out == ("以下邮件地址不能正确投递\r\n\r\na@record.test\r\n失败原因：发送已取消\r\n\r\n"
                      "b@accept.test\r\n失败原因：发送已取消\r\n\r\n").encode(), f"cancelled report {out!r}")
        check("正在取消".encode() in rest_err, "no note of the cancel on standard error")
        done = os.path.join(log, "127.0.0.3", "1.done")
        check(wait_for(done), "the recording server saw no connection end")
        if os.path.exists(done):
            raw = open(os.path.join(log, "127.0.0.3", "1.raw"), "rb").read()
            check(b"\r\n.\r\n" not in raw and b"QUIT" not in raw, "end of data or QUIT after Ctrl+C")
        # The outbox: a greylisted recipient waits while the other one is delivered; a retry killed in the
        # middle leaves whole files; the next retry delivers it once, and nobody else gets a second copy.
        r = subprocess.run([CLI, "send", "--from", "me@here.test", "--to", "o@accept.test;g@grey.test"],
                           capture_output=True, timeout=60)
        check(r.returncode == 1, f"greylisted: exit {r.returncode}")
        check(r.stdout == ("以下邮件地址暂时未能投递，将自动重试：\r\n\r\ng@grey.test\r\n失败原因："
                           "450 4.2.0 <g@grey.test>: Recipient address rejected: Greylisted, try again later\r\n"
                           "\r\n\r\n").encode(), f"greylisted report {r.stdout!r}")
        r = subprocess.run([CLI, "outbox", "list"], capture_output=True, timeout=60)
        lines = r.stdout.decode().splitlines()
        check(r.returncode == 0 and len(lines) == 1 and lines[0].startswith("g@grey.test\ttries 1\tnext ")
              and lines[0].endswith("Greylisted, try again later"), f"outbox list {r.stdout!r}")
        p = subprocess.Popen([CLI, "outbox", "retry"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        p.stderr.readline()  # it has begun
        p.kill()
        p.wait()
        names = sorted(os.listdir(outbox_dir))
        check(len([n for n in names if n.endswith(".eml")]) == 1 and len([n for n in names if n.endswith(".json")]) == 1,
              f"outbox after a killed retry: {names}")
        for n in names:
            if n.endswith(".json"):
                import json
                state = json.load(open(os.path.join(outbox_dir, n)))
                check(state["address"] == "g@grey.test" and "password" not in json.dumps(state), f"state {state}")
        r = subprocess.run([CLI, "outbox", "retry"], capture_output=True, timeout=60)
        check(r.returncode == 0 and r.stdout == "发送完毕\r\n".encode(), f"retry: {r.returncode} {r.stdout!r} {r.stderr[-300:]!r}")
        grey = os.path.join(log, "127.0.0.17")
        stored = [n for n in os.listdir(grey) if n.endswith(".env")] if os.path.isdir(grey) else []
        check(len(stored) == 1, f"greylisted copies: {stored}")
        accept = os.path.join(log, "127.0.0.2")
        copies = sum(b"o@accept.test" in open(os.path.join(accept, n), "rb").read()
                     for n in os.listdir(accept) if n.endswith(".env"))
        check(copies == 1, f"copies to the recipient delivered at once: {copies}")
        r = subprocess.run([CLI, "outbox", "list"], capture_output=True, timeout=60)
        check(r.returncode == 0 and r.stdout == b"", f"empty outbox list {r.returncode} {r.stdout!r}")
        check([n for n in os.listdir(outbox_dir) if not n.startswith(".")] == [], f"left in the outbox: {os.listdir(outbox_dir)}")
        r = subprocess.run([CLI, "outbox", "retry"], capture_output=True, timeout=60)
        check(r.returncode == 0 and r.stdout == b"", f"retry of nothing {r.returncode} {r.stdout!r}")

        # Port 25 blocked: no exchanger answers. The report ends with the sentence, then how to use a relay.
        r = subprocess.run([CLI, "send", "--from", "me@here.test", "--to", "z@refused.test"], capture_output=True,
                           timeout=60)
        out = r.stdout.decode()
        sentence = "无法连接任何邮件服务器的25端口，你的网络可能封锁了该端口。可以改为通过你的邮箱服务商的发信服务器发送。"
        check(r.returncode == 1 and out.startswith("以下邮件地址暂时未能投递，将自动重试：\r\n\r\nz@refused.test\r\n"
                                                    "失败原因：无法连接对方服务器\r\n\r\n" + sentence + "\r\n"),
              f"blocked report {out!r}")
        advice = out.split(sentence, 1)[-1]
        check("--relay" in advice and "relay.conf" in advice, f"blocked advice {advice!r}")
        check("voxletter-cli account discover me@here.test\n" in advice and
              "voxletter-cli account set me@here.test --host HOST --port PORT" in advice, f"blocked advice {advice!r}")
        r = subprocess.run([CLI, "outbox", "drop", "z@refused.test"], capture_output=True, timeout=60)
        check(r.returncode == 0, f"drop: {r.returncode} {r.stderr!r}")
        r = subprocess.run([CLI, "outbox", "drop", "z@refused.test"], capture_output=True, timeout=60)
        check(r.returncode == 1, f"drop again: {r.returncode}")
        r = subprocess.run([CLI, "outbox", "list"], capture_output=True, timeout=60)
        check(r.returncode == 0 and r.stdout == b"", f"list after drop {r.stdout!r}")
        for args in (["list", "a@b.test"], ["tidy"], ["drop"]):
            r = subprocess.run([CLI, "outbox", *args], capture_output=True, timeout=60)
            check(r.returncode == 2 and r.stdout == b"", f"outbox {args}: {r.returncode} {r.stdout!r}")
    finally:
        world.terminate()
        world.wait()

for f in failures:
    print("FAILED:", f)
sys.exit(1 if failures else 0)
