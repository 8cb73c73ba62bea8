"""The page of a mail as a reader shows it: the HTML part written to a folder with every cid: reference
rewritten to a file holding that part, so that a browser can open it."""

import email
import email.policy
import os
import shutil
import sys


def write_page(mail_path, folder, probe=""):
    """Writes page.html and one file per part with a Content-ID into folder; probe, when given, is
    inserted before the end of the body. Returns the page's path."""
    with open(mail_path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    page = None
    files = {}
    for part in msg.walk():
        if part.get_content_type() == "text/html":
            page = part.get_payload(decode=True)
        elif part["Content-ID"]:
            cid = part["Content-ID"].strip("<>")
            name = "part-" + cid + os.path.splitext(part.get_filename() or "")[1]
            with open(os.path.join(folder, name), "wb") as out:
                out.write(part.get_payload(decode=True))
            files[cid] = name
    if page is None:
        raise ValueError("the mail has no HTML part")
    for cid, name in files.items():
        page = page.replace(b"cid:" + cid.encode(), name.encode())
    if probe:
        page = page.replace(b"</BODY>", probe.encode() + b"\r\n</BODY>")
    path = os.path.join(folder, "page.html")
    with open(path, "wb") as out:
        out.write(page)
    return path


def chromium_command(user_data_dir):
    """Headless Chromium that reaches no network and keeps its profile in user_data_dir."""
    return ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--user-data-dir=" + user_data_dir]


def require_chromium():
    """Ends the test as skipped (77) where headless Chromium is not installed."""
    if shutil.which("chromium") is None:
        print("SKIP: chromium is not installed (Debian package chromium)")
        sys.exit(77)
