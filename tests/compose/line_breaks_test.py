#!/usr/bin/python3
"""A two-line letter as headless Chromium renders it: the reader shows two lines, as typed, not one
paragraph with the lines run together. The rendered text (innerText follows the layout) and the heights
of the two lines' text are both read from the page."""

import json
import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from render_page import chromium_command, require_chromium, write_page  # noqa: E402

CLI = os.path.abspath(sys.argv[1])

require_chromium()

# The rendered text of the body, and the top of the first and the last rendered line box.
PROBE = """<script>
const font = document.querySelector("font");
const range = document.createRange();
range.selectNodeContents(font);
const rects = Array.from(range.getClientRects()).filter(r => r.width > 0);
const probe = document.createElement("pre");
probe.id = "probe";
probe.textContent = JSON.stringify({text: font.innerText,
                                    tops: rects.map(r => Math.round(r.top))});
document.body.appendChild(probe);
</script>"""

with tempfile.TemporaryDirectory() as tmp:
    mail = os.path.join(tmp, "two-lines.eml")
    subprocess.run([CLI, "compose", "--from", "me@example.org", "--to", "you@example.org",
                    "--subject", "two lines", "--body", "first line\nsecond line", "-o", mail],
                   check=True, timeout=60)
    page_dir = os.path.join(tmp, "page")
    os.mkdir(page_dir)
    page = write_page(mail, page_dir, PROBE)
    r = subprocess.run(chromium_command(os.path.join(tmp, "profile")) +
                       ["--virtual-time-budget=5000", "--dump-dom", "file://" + page],
                       capture_output=True, timeout=120)
    dom = r.stdout.decode("utf-8", "replace")
    found = re.search(r'<pre id="probe">([^<]*)</pre>', dom)
    if found is None:
        print("FAIL: the page reported nothing", r.stderr.decode(errors="replace")[-800:])
        sys.exit(1)
    seen = json.loads(found.group(1).replace("&quot;", '"').replace("&amp;", "&"))
    print("rendered:", seen)
    lines = [line for line in seen["text"].split("\n") if line.strip()]
    tops = sorted(set(seen["tops"]))
    if lines != ["first line", "second line"] or len(tops) < 2:
        print("FAIL: the letter does not show as two lines:", seen)
        sys.exit(1)
print("0 failure(s)")
