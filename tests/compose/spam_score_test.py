#!/usr/bin/python3
"""The representative mails scored by SpamAssassin with local tests only: none of the rules that a
mail writer can avoid fires, and each scores well below the usual threshold."""

import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mail_samples import write_samples  # noqa: E402

CLI = os.path.abspath(sys.argv[1])
AVOIDABLE = {"MISSING_MID", "SUBJ_ILLEGAL_CHARS", "SUBJECT_NEEDS_ENCODING", "MPART_ALT_DIFF",
             "MIME_HTML_ONLY", "OBFU_TEXT_ATTACH", "HTML_FONT_FACE_BAD"}
LIMIT = 2.0

if shutil.which("spamassassin") is None:
    print("SKIP: spamassassin is not installed (Debian package spamassassin)")
    sys.exit(77)

failures = []
with tempfile.TemporaryDirectory() as tmp:
    mails = write_samples(CLI, tmp)
    # Its own home, so that SpamAssassin's user files go into the temporary folder.
    env = dict(os.environ, HOME=tmp)
    for name, path in mails.items():
        with open(path, "rb") as mail:
            r = subprocess.run(["spamassassin", "-t", "-L"], stdin=mail, capture_output=True, env=env,
                               timeout=300)
        report = r.stdout.decode("utf-8", "replace")
        score = re.search(r"Content analysis details:\s+\((-?[0-9.]+) points", report)
        if score is None:
            failures.append(f"{name}: no score in the report: {r.stderr[-500:]!r}")
            continue
        rules = set(re.findall(r"^\s*-?[0-9.]+ ([A-Z0-9_]+) ", report[score.end():], re.M))
        print(f"{name}: {score.group(1)} points, {' '.join(sorted(rules))}")
        if rules & AVOIDABLE:
            failures.append(f"{name}: {' '.join(sorted(rules & AVOIDABLE))}")
        if float(score.group(1)) >= LIMIT:
            failures.append(f"{name}: {score.group(1)} points")

for f in failures:
    print("FAIL:", f)
print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
