#!/usr/bin/python3
"""The route of voxletter-cli send, one table: --relay first, then the sending account of the From address,
then relay.conf, then direct delivery (with the DMARC warning of a reject or quarantine domain on standard
error). Without a Secret Service the account's password comes as one line on standard input. Login
refusals and an unreachable account server are reported as the sender's own server.

usage: cli_send_route_test.py VOXLETTER_CLI NET_WORLD_PY WORLD_CONF   (run through run_in_netns.sh)
"""

import json
import os
import subprocess
import sys
import tempfile

PYTHON = "/usr/bin/python3"
CLI, NET_WORLD, WORLD = (os.path.abspath(p) for p in sys.argv[1:4])
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


if not os.environ.get("VOX_NETNS"):
    print("SKIPPED: must run inside the namespace made by run_in_netns.sh")
    sys.exit(77)

ACCOUNTS = """[me@srv.test]
host = mail.srv.test
port = 465
security = TLS
user = sender

[me@apppass.test]
host = apppass.test
port = 587
security = STARTTLS
user = sender

[me@down.test]
host = down.test
port = 465
security = TLS
user = sender
"""

with tempfile.TemporaryDirectory() as tmp:
    log = os.path.join(tmp, "log")
    with_relay_conf, without = os.path.join(tmp, "a"), os.path.join(tmp, "b")
    pw = os.path.join(tmp, "pw")
    with open(pw, "w") as f:
        f.write("right horse\n")
    os.chmod(pw, 0o600)
    for config in (with_relay_conf, without):
        os.makedirs(os.path.join(config, "voxletter"))
        with open(os.path.join(config, "voxletter", "accounts.conf"), "w") as f:
            f.write(ACCOUNTS)
    conf = os.path.join(with_relay_conf, "voxletter", "relay.conf")
    with open(conf, "w") as f:
        f.write("host = backup.srv.test:587\nuser = sender\npassword-file = %s\n" % pw)
    os.chmod(conf, 0o600)

    world = subprocess.Popen([PYTHON, NET_WORLD, "--world", WORLD, "--log", log], stdout=subprocess.PIPE)
    try:
        if world.stdout.readline() != b"ready\n":
            print("the mail world did not come up")
            sys.exit(1)
        # No session bus: the keyring cannot be asked, so an account's password comes from standard input.
        state = os.path.join(tmp, "state")
        base = dict(os.environ, SSL_CERT_FILE=os.path.join(log, "test-ca.pem"), HOME=tmp, XDG_STATE_HOME=state,
                    DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-bus"))
        base.pop("DISPLAY", None)
        relay = ["--relay", "backup.srv.test:465", "--relay-user", "sender", "--relay-password-file", pw]
        S, OUT = "voxletter-cli send: ", "发送完毕\r\n".encode()
        table = [
            # what, From, extra options, config folder, stdin, exit, report, stderr must hold, must not hold
            ("--relay before the account", "me@srv.test", relay, with_relay_conf, b"", 0, OUT,
             [S + "通过中继backup.srv.test:465发送"], ["的账户发送"]),
            ("the account before relay.conf", "me@srv.test", [], with_relay_conf, b"right horse\n", 0, OUT,
             [S + "通过me@srv.test的账户发送", S + "通过中继mail.srv.test:465发送",
              "x@rcpt.test: 已投递（加密传输）"], []),
            ("the account, typed in capitals", "ME@Srv.Test", [], with_relay_conf, b"right horse\n", 0, OUT,
             ["通过中继mail.srv.test:465发送"], []),
            ("relay.conf for an address without account", "other@srv.test", [], with_relay_conf, b"", 0, OUT,
             [S + "通过中继backup.srv.test:587发送"], ["的账户发送"]),
            ("direct without either", "other@srv.test", [], without, b"", 0, OUT,
             ["x@rcpt.test: 已投递（未加密）"], ["通过", "DMARC"]),
            ("no password anywhere", "me@srv.test", [], without, b"", 2, b"",
             ["me@srv.test在mail.srv.test:465上的账户没有密码", "没有运行密钥环"], []),
            ("a refused login names the server", "me@srv.test", [], without, b"wrong horse\n", 1,
             "以下邮件地址不能正确投递\r\n\r\nx@rcpt.test\r\n失败原因：发件服务器 mail.srv.test:465 拒绝登录：535".encode(),
             [], []),
            ("an app-specific password", "me@apppass.test", [], without, b"usual\n", 1,
             "失败原因：发件服务器 apppass.test:587 拒绝登录：534 5.7.9".encode(), [], []),
            ("an unreachable account server", "me@down.test", [], without, b"pw\n", 1,
             "失败原因：无法连接发件服务器 down.test:465".encode(), [], []),
            ("DMARC reject, sent anyway", "me@reject.test", [], without, b"", 0, OUT,
             [S + "警告：reject.test公布了DMARC策略\"reject\"：大多数收件方会拒收", "x@rcpt.test: 已投递"], []),
            ("DMARC quarantine", "me@quar.test", [], without, b"", 0, OUT,
             ["DMARC策略\"quarantine\"：大多数收件方会把从本机以me@quar.test名义发出的邮件当作垃圾邮件"], []),
            ("DMARC none says nothing", "me@relaxed.test", [], without, b"", 0, OUT, [], ["DMARC"]),
            ("no DMARC before a relay", "me@reject.test", relay, without, b"", 0, OUT, [], ["DMARC"]),
        ]
        for what, sender, extra, config, stdin, code, report, wanted, unwanted in table:
            env = dict(base, XDG_CONFIG_HOME=config)
            r = subprocess.run([CLI, "send", "--from", sender, "--to", "x@rcpt.test", "--subject", "s", *extra],
                               input=stdin, capture_output=True, timeout=60, env=env)
            err = r.stderr.decode(errors="replace")
            check(r.returncode == code, f"{what}: exit {r.returncode}, wanted {code}: {err[-400:]!r}")
            check(report in r.stdout if report else r.stdout == b"", f"{what}: report {r.stdout!r}")
            if what == "an app-specific password":
                check("专用密码" in r.stdout.decode(), f"{what}: no app-password sentence in {r.stdout.decode()!r}")
            for w in wanted:
                check(w in err, f"{what}: {w!r} not in {err!r}")
            for w in unwanted:
                check(w not in err, f"{what}: {w!r} in {err!r}")
        # The recipient of the unreachable account server waits, with the account's keyring item named as
        # where its password is read again (never the password); a retry without a keyring keeps it waiting
        # and says why.
        outbox = os.path.join(state, "voxletter", "outbox")
        states = [json.load(open(os.path.join(outbox, n))) for n in sorted(os.listdir(outbox)) if n.endswith(".json")]
        check([(st["address"], st.get("relay")) for st in states] ==
              [("x@rcpt.test", {"host": "down.test", "port": 465, "user": "sender",
                                "password-from": "keyring:me@down.test", "tls": "tls"})],
              f"outbox states: {states!r}")
        r = subprocess.run([CLI, "outbox", "retry"], capture_output=True, timeout=60, env=dict(base, XDG_CONFIG_HOME=without))
        check(r.returncode == 1, f"outbox retry: exit {r.returncode}: {r.stderr.decode(errors='replace')!r}")
        check("失败原因：无法从密钥环取得发件账户 me@down.test（down.test:465）的密码：" in r.stdout.decode(errors="replace"),
              f"outbox retry: report {r.stdout.decode(errors='replace')!r}")
        r = subprocess.run([CLI, "outbox", "list"], capture_output=True, timeout=60, env=base)
        check(r.stdout.decode(errors="replace").startswith("x@rcpt.test\ttries 2\t"), f"outbox list: {r.stdout!r}")
    finally:
        world.terminate()
        world.wait(timeout=10)

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
