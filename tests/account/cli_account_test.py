#!/usr/bin/python3
"""voxletter-cli account end to end: a real Secret Service (gnome-keyring-daemon in a private D-Bus
session, unlocked with a test password) and the account test world (tests/harness/net). Without a Secret
Service "account set" writes nothing; with one: set, read back by another client of the service, show,
test against the submission servers (right password, wrong password, a provider that wants an
app-specific password), forget; and discover.

usage: cli_account_test.py VOXLETTER_CLI NET_WORLD_PY WORLD_CONF   (run through run_in_netns.sh)
"""

import os
import subprocess
import sys
import tempfile
import time

PYTHON = "/usr/bin/python3"
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def run(env, *args, stdin=b""):
    return subprocess.run([CLI, "account", *args], input=stdin, capture_output=True, timeout=60, env=env)


def inside_session(log, home):
    """Runs inside dbus-run-session: starts the keyring, then every step against it."""
    env = dict(os.environ, SSL_CERT_FILE=os.path.join(log, "test-ca.pem"))
    keyring = subprocess.Popen(["gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"],
                               stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    keyring.stdin.write(b"test keyring password")
    keyring.stdin.close()
    try:
        # Ready once the service's name has its owner on the bus.
        end = time.time() + 10
        while time.time() < end:
            r = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
                                "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets"],
                               capture_output=True)
            if b"boolean true" in r.stdout:
                break
            time.sleep(0.05)
        conf = os.path.join(home, "config", "voxletter", "accounts.conf")

        r = run(env, "set", "me@srv.test", "--host", "mail.srv.test", "--port", "465", "--user", "sender",
                stdin=b"right horse\n")
        check(r.returncode == 0, f"set: {r.returncode} {r.stderr!r}")
        text = open(conf).read() if os.path.exists(conf) else ""
        check("host = mail.srv.test" in text and "security = TLS" in text and "user = sender" in text,
              f"accounts.conf: {text!r}")
        check("right horse" not in text, "the password is in accounts.conf")
        # Another client of the same service finds the password under the address and the server.
        r = subprocess.run(["secret-tool", "lookup", "address", "me@srv.test", "server", "mail.srv.test:465"],
                           capture_output=True, env=env)
        check(r.stdout == b"right horse", f"keyring holds {r.stdout!r}")

        r = run(env, "show")
        check(r.returncode == 0 and r.stdout == "me@srv.test：mail.srv.test:465 TLS，用户sender，"
              "密码在密钥环中\n".encode(), f"show: {r.returncode} {r.stdout!r}")
        check(b"right horse" not in r.stdout + r.stderr, "show printed the password")

        r = run(env, "test", "me@srv.test")
        check(r.returncode == 0 and r.stdout.startswith(b"235 "), f"test: {r.returncode} {r.stdout!r} {r.stderr!r}")
        # The next send from that address goes through the account, its password from the keyring.
        r = subprocess.run([CLI, "send", "--from", "me@srv.test", "--to", "x@rcpt.test"], stdin=subprocess.DEVNULL,
                           capture_output=True, timeout=60, env=env)
        check(r.returncode == 0 and "通过中继mail.srv.test:465发送".encode() in r.stderr,
              f"send through the account: {r.returncode} {r.stdout!r} {r.stderr[-300:]!r}")

        # A wrong password replaces the right one (same server: one item); the login fails with 535.
        run(env, "set", "me@srv.test", "--host", "mail.srv.test", "--port", "465", "--user", "sender",
            stdin=b"wrong horse\n")
        r = run(env, "test", "me@srv.test")
        check(r.returncode == 1 and r.stdout.startswith(b"535 "), f"wrong password: {r.returncode} {r.stdout!r}")
        check("专用密码".encode() not in r.stdout, "a plain refusal mentions app-specific passwords")

        # STARTTLS on 587, and a provider that wants an app-specific password.
        run(env, "set", "me@apppass.test", "--host", "apppass.test", "--port", "587", stdin=b"usual\n")
        r = run(env, "test", "me@apppass.test")
        check(r.returncode == 1 and r.stdout.startswith(b"534 5.7.9") and "专用密码".encode() in r.stdout,
              f"app password: {r.returncode} {r.stdout!r} {r.stderr!r}")

        r = run(env, "forget", "me@srv.test")
        check(r.returncode == 0, f"forget: {r.returncode} {r.stderr!r}")
        r = run(env, "show", "me@srv.test")
        check(r.returncode == 1 and r.stdout == b"", f"show after forget: {r.returncode} {r.stdout!r}")
        r = subprocess.run(["secret-tool", "lookup", "address", "me@srv.test", "server", "mail.srv.test:465"],
                           capture_output=True, env=env)
        check(r.stdout == b"", f"keyring after forget: {r.stdout!r}")
        check("apppass.test" in open(conf).read(), "forget removed another account")
    finally:
        keyring.terminate()
        keyring.wait(timeout=10)


CLI, NET_WORLD, WORLD = (os.path.abspath(p) for p in sys.argv[1:4])

if len(sys.argv) > 5 and sys.argv[4] == "--inside":
    inside_session(sys.argv[5], sys.argv[6])
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)

if not os.environ.get("VOX_NETNS"):
    print("SKIPPED: must run inside the namespace made by run_in_netns.sh")
    sys.exit(77)
for tool in ("gnome-keyring-daemon", "dbus-run-session", "secret-tool"):
    if subprocess.run(["which", tool], capture_output=True).returncode != 0:
        print(f"SKIPPED: {tool} is not installed")
        sys.exit(77)

with tempfile.TemporaryDirectory() as tmp:
    log, home = os.path.join(tmp, "log"), os.path.join(tmp, "home")
    runtime = os.path.join(tmp, "run")
    os.makedirs(runtime, mode=0o700)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
               XDG_DATA_HOME=os.path.join(home, "data"), XDG_RUNTIME_DIR=runtime)
    env.pop("DISPLAY", None)
    world = subprocess.Popen([PYTHON, NET_WORLD, "--world", WORLD, "--log", log], stdout=subprocess.PIPE)
    try:
        if world.stdout.readline() != b"ready\n":
            print("the mail world did not come up")
            sys.exit(1)
        env["SSL_CERT_FILE"] = os.path.join(log, "test-ca.pem")

        # No Secret Service on the bus (no bus at all): set says so, exit 1, and writes nothing.
        nobus = dict(env, DBUS_SESSION_BUS_ADDRESS="unix:path=" + os.path.join(tmp, "no-bus"))
        r = run(nobus, "set", "me@srv.test", "--host", "mail.srv.test", "--port", "465", stdin=b"right horse\n")
        check(r.returncode == 1 and "没有运行密钥环".encode() in r.stderr, f"set without keyring: {r.returncode} {r.stderr!r}")
        check(not os.path.exists(os.path.join(home, "config", "voxletter", "accounts.conf")),
              "accounts.conf written without a keyring")

        # Discovery from the command line: one line per candidate, exit 0; nothing found, exit 1.
        r = run(env, "discover", "me@srv.test")
        check(r.returncode == 0 and r.stdout.splitlines() == [
            b"mail.srv.test:465 TLS (SRV _submissions._tcp.srv.test)",
            b"backup.srv.test:465 TLS (SRV _submissions._tcp.srv.test)",
            b"mail.srv.test:587 STARTTLS (SRV _submission._tcp.srv.test)"], f"discover: {r.returncode} {r.stdout!r}")
        r = run(env, "discover", "me@nothing.test")
        check(r.returncode == 1 and r.stdout == b"", f"discover nothing: {r.returncode} {r.stdout!r}")

        # Options that belong to set are refused elsewhere; set without its server too.
        r = run(env, "show", "--host", "x.test")
        check(r.returncode == 2, f"show --host: {r.returncode}")
        r = run(env, "set", "me@srv.test", stdin=b"x\n")
        check(r.returncode == 2, f"set without --host: {r.returncode}")
        r = run(env, "discover", "nobody")
        check(r.returncode == 2 and "不是邮件地址".encode() in r.stderr, f"discover nobody: {r.returncode} {r.stderr!r}")

        r = subprocess.run(["dbus-run-session", "--", PYTHON, os.path.abspath(__file__), CLI, NET_WORLD, WORLD,
                            "--inside", log, home], capture_output=True, timeout=100, env=env)
        sys.stdout.write(r.stdout.decode(errors="replace"))
        check(r.returncode == 0, f"inside the D-Bus session: exit {r.returncode}")
    finally:
        world.terminate()
        world.wait(timeout=10)

for f in failures:
    print("FAIL:", f)
sys.exit(1 if failures else 0)
