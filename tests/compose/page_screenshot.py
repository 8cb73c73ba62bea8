#!/usr/bin/python3
"""A picture of what a recipient sees: the sample voice mail's page, with its background and player, as
headless Chromium renders it. Usage: page_screenshot.py VOXLETTER-CLI OUT.png"""

import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mail_samples import write_samples  # noqa: E402
from render_page import chromium_command, write_page  # noqa: E402

cli, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
with tempfile.TemporaryDirectory() as tmp:
    mails = write_samples(cli, tmp)
    page_dir = os.path.join(tmp, "page")
    os.mkdir(page_dir)
    page = write_page(mails["voice"], page_dir)
    subprocess.run(chromium_command(os.path.join(tmp, "profile")) +
                   ["--hide-scrollbars", "--window-size=640,200", "--virtual-time-budget=5000",
                    "--screenshot=" + out, "file://" + page], check=True, capture_output=True, timeout=120)
print(out)
