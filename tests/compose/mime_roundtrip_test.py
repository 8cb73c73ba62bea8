#!/usr/bin/python3
"""Mails written by voxletter-cli compose, read back by Python's own MIME parser with its current policy:
no defects, every header, address and file name decodes to exactly what was typed, the alternative holds
the text and the page, and every file part decodes to exactly the bytes of its file."""

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


def parse(raw, what):
    """The message, after checking that no header or part of it carries a defect. The one defect allowed is
    Python's note on encoded-words in a quoted name parameter: that name is there for readers that know no
    RFC 2231, and the filename* parameter next to it is the standard one."""
    msg = email.message_from_bytes(raw, policy=email.policy.default)
    legacy = {"encoded word inside quoted string", "missing trailing whitespace after encoded-word"}
    for part in msg.walk():
        check(part.defects == [], f"{what}: part defects {part.defects}")
        for name, value in part.items():
            defects = [str(d) for d in value.defects]
            if name == "Content-Type" and not value.params.get("name", "").isascii():
                defects = [d for d in defects if d not in legacy]
            check(defects == [], f"{what}: {name} defects {defects}")
    head = raw[:raw.index(b"\r\n\r\n")]
    check(all(len(line) <= 78 for line in head.split(b"\r\n")), f"{what}: header line over 78")
    check(all(b < 0x80 for b in head), f"{what}: 8-bit header bytes")
    return msg


def typed_address(entry):
    entry = entry.strip()
    if entry.endswith(">") and "<" in entry:
        name, addr = entry[:-1].rsplit("<", 1)
        name = name.strip()
        if len(name) >= 2 and name[0] == name[-1] == '"':
            name = re.sub(r'\\(.)', r'\1', name[1:-1])
        return (name, addr.strip())
    return ("", entry)


def addresses(msg, header):
    return [(a.display_name, a.addr_spec) for a in msg[header].addresses] if msg[header] else []


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
    for name in ["语音 附件.txt", 'my "quoted" file name.txt', "a;b=c d.txt", "很长的中文文件名称" * 4 + ".txt",
                 "back\\slash 'it'.txt", "tab\there.txt", "100% *done*.txt"]:
        files[name] = f"{name}\n中文内容\n".encode("utf-8")
        open(os.path.join(tmp, name), "wb").write(files[name])
    picture = b"GIF89a" + bytes(range(256)) * 3
    open(os.path.join(tmp, "tile.gif"), "wb").write(picture)
    sound = b"RIFF\x00\x00\x00\x00WAVE" + bytes(rng.getrandbits(8) for _ in range(5000))
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

    msg = parse(raw, "files")
    check(msg.get_content_type() == "multipart/mixed", "outer type")
    check(re.fullmatch(r"<[0-9a-f.]+@example\.org>", msg["Message-ID"]) is not None, "Message-ID")
    parts = list(msg.iter_parts())
    alt = parts[0]
    check(alt.get_content_type() == "multipart/alternative", "first part is the alternative container")
    text, html = list(alt.iter_parts())
    check(text.get_content_type() == "text/plain" and text.get_content() == "你好，世界 😀\r\n第二行 ",
          f"plain text alternative {text.get_content()!r}")
    check(html.get_content_type() == "text/html" and html.get_content_charset() == "gb2312", "html part")
    page = html.get_payload(decode=True).decode("gb18030")
    check("你好，世界 &#x1F600;<BR>\r\n第二行 <b>\r\n" in page, "body text in the page, emoji as a reference")
    check("<BODY BACKGROUND=cid:VoxLetterYourPictue>" in page, "page background")
    check('<BGSOUND SRC="cid:VoxLetterYourSound" loop=2>\r\n'
          '<AUDIO controls src="cid:VoxLetterYourSound"></AUDIO>\r\n' in page, "page sound and player")
    check(page.endswith("</HTML>"), "page end")

    inline = {p["Content-ID"]: p for p in parts[1:] if p["Content-ID"]}
    pic, snd = inline["<VoxLetterYourPictue>"], inline["<VoxLetterYourSound>"]
    check(pic.get_payload(decode=True) == picture and pic.get_content_type() == "image/gif", "picture")
    check(pic.get_content_disposition() == "inline" and pic.get_filename() == "tile.gif", "picture name")
    check(snd.get_payload(decode=True) == sound and snd.get_content_type() == "audio/wav", "sound")
    check(snd.get_content_disposition() == "attachment" and snd.get_filename() == "voice.wav", "sound name")
    attached = [p for p in parts[1:] if not p["Content-ID"]]
    names = [p.get_filename() for p in attached]
    check(names == sorted(files, key=lambda n: os.path.join(tmp, n).encode()), f"attachment names {names}")
    for name, part in zip(names, attached):
        check(part.get_content_type() == ("text/plain" if name.endswith(".txt") else "application/octet-stream"),
              f"{name} type")
        check(part.get_param("name", header="Content-Type") == name, f"{name} name parameter")
        check(part.get_payload(decode=True) == files[name], f"{name} decodes to its file's bytes")
        check(all(len(line) <= 76 for line in part.get_payload().split("\r\n")), f"{name} line width")

    # Drafts as people type them, each read back: every header, name and address as typed, the font size
    # the nearest the page can show.
    mixed = ("语音留言 voice mail 😀 第" + "".join(str(i) for i in range(10)) + "期 ") * 20
    mixed = mixed[:600].strip()
    drafts = [
        dict(frm="张三 <zs@example.org>", to="李四 <ls@example.com>", cc="", subject="语音留言：你好",
             size="9", html_size=1, attach=[]),
        dict(frm="me@example.org", to="a@b.com", cc="", subject=mixed, size="10.5", html_size=2, attach=[]),
        dict(frm='"😀 Smile, 𠀀" <s@example.org>', to="𪚥 <x@y.org>", cc="", subject="𠀀😀 outside 𪚥 GBK",
             size="11", html_size=2, attach=[]),
        dict(frm="me@example.org", to="a@b.com", cc="", subject="Files", size="16", html_size=4,
             attach=["语音 附件.txt", 'my "quoted" file name.txt', "a;b=c d.txt", "很长的中文文件名称" * 4 + ".txt"]),
        dict(frm="王五 <w5@example.org>", to="a@b.com; 王五 <w5@c.org>", cc="Smith, J. <j@d.org>",
             subject="Re: two To and a Cc", size="72", html_size=7, attach=[]),
    ]
    for d in drafts:
        what = d["subject"][:20]
        args = ["--from", d["frm"], "--to", d["to"], "--subject", d["subject"], "--body", "Hello <i>you</i>",
                "--size", d["size"], "--font", "WenQuanYi Micro Hei"]
        if d["cc"]:
            args += ["--cc", d["cc"]]
        for name in d["attach"]:
            args += ["--attach", name]
        msg = parse(compose(args, tmp), what)
        check(msg["Subject"] == d["subject"], f"{what}: subject {msg['Subject']!r}")
        check(addresses(msg, "From") == [typed_address(d["frm"])], f"{what}: From {addresses(msg, 'From')}")
        for header in ["To", "Cc"]:
            typed = [typed_address(e) for e in d[header.lower()].split(";") if e.strip()]
            check(addresses(msg, header) == typed, f"{what}: {header} {addresses(msg, header)} for {typed}")
        got = [p.get_filename() for p in msg.iter_attachments()]
        check(got == sorted(d["attach"], key=lambda n: os.path.join(tmp, n).encode()), f"{what}: names {got}")
        text, html = list(next(msg.iter_parts()).iter_parts())
        check(text.get_content() == "Hello you", f"{what}: text {text.get_content()!r}")
        page = html.get_payload(decode=True).decode("gb18030")
        check(f'<FONT face="WenQuanYi Micro Hei" size={d["html_size"]} color=#000000>' in page, f"{what}: font")

for f in failures:
    print("FAIL:", f)
print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
