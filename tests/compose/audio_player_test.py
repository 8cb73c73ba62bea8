#!/usr/bin/python3
"""The voice mail's page opened in headless Chromium: the page shows a player for the voice, and the
player has loaded the sound part (it knows its length)."""

import os
import re
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mail_samples import write_samples  # noqa: E402
from render_page import chromium_command, require_chromium, write_page  # noqa: E402

CLI = os.path.abspath(sys.argv[1])

require_chromium()

# Writes what the page's player knows into the document, once it knows it.
PROBE = """<script>
const probe = document.createElement("pre");
probe.id = "probe";
const audio = document.querySelector("audio");
function report(text) { probe.textContent = text; document.body.appendChild(probe); }
if (!audio) report("no player");
else {
  audio.addEventListener("loadedmetadata", () => report("controls=" + audio.controls + " duration=" + audio.duration));
  audio.addEventListener("error", () => report("error " + (audio.error && audio.error.code)));
  if (audio.readyState >= 1) report("controls=" + audio.controls + " duration=" + audio.duration);
}
</script>"""

with tempfile.TemporaryDirectory() as tmp:
    mails = write_samples(CLI, tmp)
    page_dir = os.path.join(tmp, "page")
    os.mkdir(page_dir)
    page = write_page(mails["voice"], page_dir, PROBE)
    r = subprocess.run(chromium_command(os.path.join(tmp, "profile")) +
                       ["--virtual-time-budget=10000", "--dump-dom", "file://" + page],
                       capture_output=True, timeout=120)
    dom = r.stdout.decode("utf-8", "replace")
    found = re.search(r'<pre id="probe">([^<]*)</pre>', dom)
    result = found.group(1) if found else "nothing reported"
    print("player:", result)
    m = re.fullmatch(r"controls=true duration=([0-9.]+)", result)
    # The sample's voice is two seconds long.
    if m is None or abs(float(m.group(1)) - 2.0) > 0.05:
        print("FAIL: the page shows no player with the voice:", result, r.stderr.decode(errors="replace")[-800:])
        sys.exit(1)
print("0 failure(s)")
