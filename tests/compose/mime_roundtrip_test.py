#!/usr/bin/python3
"""Mails written by voxletter-cli compose, read back by Python's own MIME parser: the structure is what a
mail reader expects, the page decodes as GB18030 to what was typed, and every file part decodes to exactly
the bytes of its file."""

import email
import email.policy
import os
import random
import re
import subprocess
import sys
import tempfile

CLI = os.path.abspath(sys.argv[1])
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)


def compose(args, cwd):
    r = subprocess.run([CLI, "compose", *args], cwd=cwd, capture_output=True, timeout=60)
    if r.returncode != 0:
        sys.exit(f"compose failed: {r.returncode} {r.stderr!r}")
    return r.stdout


rng = random.Random(2026)
with tempfile.TemporaryDirectory() as tmp:
    files = {}
    # Sizes around the line and padding edges, an empty file, one bigger than a read piece.
    for size in [0, 1, 2, 3, 55, 56, 57, 58, 114, 1000, 57 * 16384 + 1, 3 * 1024 * 1024 + 7]:
        name = f"f{size}.bin"
        data = bytes(rng.getrandbits(8) for _ in range(min(size, 4096))) * (size // 4096 + 1)
        data = data[:size]
        open(os.path.join(tmp, name), "wb").write(data)
        files[name] = data
    cn_name = "语音 附件.txt"
    files[cn_name] = "中文内容\n".encode("utf-8")
    open(os.path.join(tmp, cn_name), "wb").write(files[cn_name])
    picture = bytes(range(256)) * 3
    open(os.path.join(tmp, "tile.gif"), "wb").write(picture)
    sound = b"RIFF" + bytes(rng.getrandbits(8) for _ in range(5000))
    open(os.path.join(tmp, "voice.wav"), "wb").write(sound)

    body = "你好，世界 😀\n第二行 <b>"
    args = ["--from", "我 <me@example.org>", "--to", "a@b.com;c@d.com", "--cc", "e@f.com", "--bcc", "g@h.com",
            "--subject", "测试 subject", "--body", body, "--background-picture", "tile.gif",
            "--sound", "voice.wav", "--loops", "2", "--italic"]
    for name in files:
        args += ["--attach", name]
    raw = compose(args, tmp)

    check(b"\r\n" in raw and b"\n" not in raw.replace(b"\r\n", b""), "every line ends with CR LF")
    check(b"Bcc" not in raw and b"g@h.com" not in raw, "no Bcc in the mail")
    check(raw.startswith(b"From: =?UTF-8?B?5oiR?= <me@example.org>\r\nTo: a@b.com, c@d.com\r\n"),
          "From as an encoded-word, To as a list")

    msg = email.message_from_bytes(raw, policy=email.policy.compat32)
    check(msg.get_content_type() == "multipart/mixed", "outer type")
    check(msg.defects == [], f"outer defects {msg.defects}")
    parts = msg.get_payload()
    alt = parts[0]
    check(alt.get_content_type() == "multipart/alternative", "first part is the alternative container")
    text, html = alt.get_payload()
    check(text.get_content_type() == "text/plain" and
          text.get_payload(decode=True) == "你好，世界 😀\r\n第二行 ".encode(), "plain text alternative")
    check(html.get_content_type() == "text/html" and html.get_content_charset() == "gb2312", "html part")
    page = html.get_payload(decode=True).decode("gb18030")
    check("你好，世界 &#x1F600;\r\n第二行 <b>\r\n" in page, "body text in the page, emoji as a reference")
    check("<BODY BACKGROUND=cid:VoxLetterYourPictue>" in page, "page background")
    check('<BGSOUND SRC="cid:VoxLetterYourSound" loop=2>' in page, "page sound")
    check(page.endswith("</HTML>"), "page end")

    inline = {p["Content-ID"]: p for p in parts[1:] if p["Content-ID"]}
    check(inline["<VoxLetterYourPictue>"].get_payload(decode=True) == picture, "picture bytes")
    check(inline["<VoxLetterYourSound>"].get_payload(decode=True) == sound, "sound bytes")
    attached = [p for p in parts[1:] if not p["Content-ID"]]
    check(len(attached) == len(files), f"{len(attached)} attachments for {len(files)} files")
    # The names are raw GB18030 in the header, as the mail declares gb2312; read them from the bytes.
    names = [n.decode("gb18030") for n in re.findall(rb'\r\n    filename="([^"]*)"\r\n', raw)]
    check(names == sorted(files, key=lambda n: os.path.join(tmp, n).encode()), f"attachment order {names}")
    for name, part in zip(names, attached):
        check(part.get_content_type() == "application/octet-stream", f"{name} type")
        check(part.get_payload(decode=True) == files[name], f"{name} decodes to its file's bytes")
        check(all(len(line) <= 76 for line in part.get_payload().split("\r\n")), f"{name} line width")

for f in failures:
    print("FAIL:", f)
print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
