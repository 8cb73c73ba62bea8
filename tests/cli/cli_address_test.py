#!/usr/bin/python3
"""Addresses as people write them, through voxletter-cli send to real servers in a network namespace:
the envelope carries only the addresses proper (international domains in their ASCII form), each mailbox
once, while the headers keep what was typed. And no address list is cut, however long.

usage: cli_address_test.py VOXLETTER_CLI NET_WORLD_PY WORLD_CONF   (run through run_in_netns.sh)
"""

import email
import email.policy
import glob
import os
import re
import subprocess
import sys
import tempfile
import time

CLI, NET_WORLD, WORLD = (os.path.abspath(p) for p in sys.argv[1:4])
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def commands(log, address, verb):
    """Every command line starting with verb that the server at address received, in connection order."""
    lines = []
    raws = sorted(glob.glob(os.path.join(log, address, "*.raw")), key=lambda p: int(os.path.basename(p)[:-4]))
    for raw in raws:
        data = open(raw, "rb").read()
        head = data.split(b"\r\nDATA\r\n")[0]
        lines += [l for l in head.split(b"\r\n") if l.upper().startswith(verb)]
    return lines


if not os.environ.get("VOX_NETNS"):
    print("SKIPPED: must run inside the namespace made by run_in_netns.sh")
    sys.exit(77)

with tempfile.TemporaryDirectory() as tmp:
    log = os.path.join(tmp, "log")
    world = subprocess.Popen(["/usr/bin/python3", NET_WORLD, "--world", WORLD, "--log", log], stdout=subprocess.PIPE)
    try:
        if world.stdout.readline() != b"ready\n":
            print("the mail world did not come up")
            sys.exit(1)

        # Jane three times (To, Cc in capitals of the domain, Bcc under another name) and one address of an
        # international domain: three conversations, one RCPT each.
        fields = ["--from", "张三 <zs@ok.test>", "--to", "Jane Roe <jane@ok.test>",
                  "--cc", "jane@OK.test; 李四 <ls@例子.test>", "--bcc", '"Roe, Jane" <jane@ok.test>',
                  "--subject", "addresses"]
        r = subprocess.run([CLI, "send", *fields], capture_output=True, timeout=60)
        check(r.returncode == 0 and r.stdout == "发送完毕\r\n".encode(),
              f"send: {r.returncode} {r.stdout.decode()!r} {r.stderr.decode()[-400:]!r}")
        for address in ("127.0.0.2", "127.0.0.3"):
            end = time.time() + 5
            while not glob.glob(os.path.join(log, address, "*.done")) \
                    and time.time() < end:
                time.sleep(0.05)
        mail_from = commands(log, "127.0.0.2", b"MAIL") + commands(log, "127.0.0.3", b"MAIL")
        check(mail_from == [b"MAIL FROM:<zs@ok.test>"] * 2, f"MAIL FROM lines {mail_from!r}")
        rcpt = commands(log, "127.0.0.2", b"RCPT")
        check(rcpt == [b"RCPT TO:<jane@ok.test>"], f"RCPT lines at ok.test {rcpt!r}")
        rcpt = commands(log, "127.0.0.3", b"RCPT")
        check(rcpt == [b"RCPT TO:<ls@xn--fsqu00a.test>"], f"RCPT lines at 例子.test {rcpt!r}")
        queries = open(os.path.join(log, "dns.log")).read().split("\n")
        check("xn--fsqu00a.test MX" in queries, f"DNS queries {queries!r}")

        # The headers are what was typed (names encoded where they are not ASCII); no Bcc line.
        raw = open(os.path.join(log, "127.0.0.2", "1.raw"), "rb").read()
        message = raw.split(b"\r\nDATA\r\n", 1)[1].split(b"\r\n\r\n", 1)[0]
        headers = email.message_from_bytes(message + b"\r\n\r\n", policy=email.policy.default)
        check(str(headers["From"]) == "张三 <zs@ok.test>", f"From {headers['From']!r}")
        check(str(headers["To"]) == "Jane Roe <jane@ok.test>", f"To {headers['To']!r}")
        check(str(headers["Cc"]) == "jane@OK.test, 李四 <ls@例子.test>", f"Cc {headers['Cc']!r}")
        check(headers["Bcc"] is None, "a Bcc header")

        # A form delivery cannot use is refused before anything is sent, with the entry named.
        r = subprocess.run([CLI, "send", "--from", "me@ok.test", "--to", "a@ok.test;Jane <jane@ok.test"],
                           capture_output=True, timeout=60)
        check(r.returncode == 2 and "请正确填写收件人" in r.stderr.decode() and
              '"Jane <jane@ok.test"' in r.stderr.decode(), f"unclosed bracket: {r.returncode} {r.stderr!r}")

        # 3,000 addresses (about 45,000 characters): every one reaches the header, the last one whole.
        many = ["u%d@ok.test" % i for i in range(3000)]
        r = subprocess.run([CLI, "compose", "--from", "me@ok.test", "--to", ";".join(many)],
                           capture_output=True, timeout=60)
        to = email.message_from_bytes(r.stdout, policy=email.policy.default)["To"]
        got = [a.addr_spec for a in to.addresses] if to is not None else []
        check(r.returncode == 0 and got == many, f"long To: {r.returncode}, {len(got)} addresses")
    finally:
        world.terminate()
        world.wait(timeout=10)

if failures:
    print("\n".join(failures))
    sys.exit(1)
print("ok")
