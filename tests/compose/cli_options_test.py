#!/usr/bin/python3
"""voxletter-cli compose from the outside: option refusals and field-check refusals exit with 2 and say
why on standard error; a good command line exits with 0 and writes the mail."""

import os
import shutil
import subprocess
import sys
import tempfile

CLI = os.path.abspath(sys.argv[1])
GOOD = ["--from", "me@x.org", "--to", "a@b.com"]
failures = []


def run(args, cwd, command="compose"):
    return subprocess.run([CLI, command, *args], cwd=cwd, capture_output=True, timeout=30)


def expect(args, code, stderr_has=None, cwd=None, command="compose"):
    r = run(args, cwd, command)
    err = r.stderr.decode("utf-8", "replace")
    if r.returncode != code or (stderr_has is not None and stderr_has not in err):
        failures.append(f"{args}: exit {r.returncode}, stderr {err!r}; wanted {code} and {stderr_has!r}")
    if code == 2 and r.stdout:
        failures.append(f"{args}: a refused command line wrote to standard output")
    return r


with tempfile.TemporaryDirectory() as tmp:
    open(os.path.join(tmp, "s.wav"), "wb").write(b"RIFF")
    cases = [
        (["--frm", "me@x.org"], 'unknown option "--frm"'),
        (GOOD + ["extra"], 'unexpected argument "extra"'),
        (GOOD + ["--subject"], "option --subject needs a value"),
        (["--from", "--to", "a@b.com"], "option --from needs a value"),
        # A value that begins with "-" is written --option=VALUE; on its own it is the next option.
        (GOOD + ["--subject", "--x"], "option --subject needs a value"),
        (GOOD + ["--bold=yes"], "option --bold takes no value"),
        (GOOD + ["--to", "c@d.com"], "option --to given more than once"),
        (GOOD + ["--italic", "--italic"], "option --italic given more than once"),
        (GOOD + ["--sound", "s.wav", "--recording"], "options --sound and --recording exclude each other"),
        (GOOD + ["--body", "x", "--body-file", "s.wav"], "options --body and --body-file exclude each other"),
        (GOOD + ["--size", "big"], "option --size"),
        (GOOD + ["--color", "red"], "option --color"),
        (GOOD + ["--align", "middle"], "option --align"),
        (GOOD + ["--loops", "x"], "option --loops"),
        (GOOD + ["--body-file", "missing.txt"], "cannot read the body file"),
        (GOOD + ["--subject", "hi\nBcc: x@y.z"], "the subject must not contain a line break"),
        (["--to", "a@b.com"], "请正确填写发件人"),
        (["--from", "me@x.org"], "请正确填写收件人"),
        (["--from", "me@x.org", "--to", "a@b.com;;c@d.com"], 'the entry "" at byte 8'),
        (GOOD + ["--cc", "nobody"], "请正确填写抄送"),
        (GOOD + ["--bcc", "x@y.z\r\nDATA"], "请正确填写暗送"),
        (GOOD + ["--sound", "nope.wav"], "无法访问到声音文件"),
        (GOOD + ["--background-picture", "nope.gif"], "无法访问到背景图片文件"),
    ]
    for args, message in cases:
        expect(args, 2, message, cwd=tmp)

    # record reads its options by the same rules (refused before any sound device is opened).
    for args, message in [
        (["--seconds=x"], 'option --seconds needs a whole number from 0 up, not "x"'),
        (["--seconds", "1", "--seconds=2"], "option --seconds given more than once"),
        (["--rate", "8001"], "option --rate needs 8000, 11025, 22050 or 44100"),
        (["--bits"], "option --bits needs a value"),
        (["--channels", "1", "stereo"], 'unexpected argument "stereo"'),
        (["--seconds", "4000", "--rate=44100", "--bits=16", "--channels=2"], "4000 seconds is too long; at 44100 Hz, 16 bits, 2 channel(s) a recording can last at most 3043 seconds"),
    ]:
        expect(args, 2, "voxletter-cli record: " + message, cwd=tmp, command="record")
    expect(["--sound=x"], 2, 'unknown option "--sound"', cwd=tmp, command="record")
    for args, message in [([], "Usage: voxletter-cli"), (["mail"], 'unknown command "mail"')]:
        r = subprocess.run([CLI, *args], capture_output=True, timeout=30)
        if r.returncode != 2 or message not in r.stderr.decode() or r.stdout:
            failures.append(f"{args}: exit {r.returncode}, stderr {r.stderr!r}; wanted 2 and {message!r}")

    # --subject=VALUE takes the value as it stands.
    r = expect(GOOD + ["--subject=--x"], 0, cwd=tmp)
    if b"\r\nSubject: --x\r\n" not in r.stdout:
        failures.append("--subject=--x did not become the subject")

    # --help goes to standard output and succeeds.
    r = expect(["--help"], 0, cwd=tmp)
    if b"--background-picture FILE" not in r.stdout or b"-o FILE" not in r.stdout:
        failures.append("--help does not list the options")

    # A good command line: the mail on standard output, or in the -o file, the same bytes but the Date.
    r = expect(GOOD + ["--sound", "s.wav", "--attach", "s.wav", "--attach", "./s.wav"], 0, cwd=tmp)
    if not r.stdout.startswith(b"From: me@x.org\r\nTo: a@b.com\r\nSubject: \r\n"):
        failures.append("no mail on standard output")
    # The sound part is named too; it is the one with a Content-ID.
    if r.stdout.count(b'filename="s.wav"\r\n\r\n') != 1:
        failures.append("the attachment list is not unique")
    out = os.path.join(tmp, "out.eml")
    expect(GOOD + ["-o", out], 0, cwd=tmp)
    if not open(out, "rb").read().endswith(b"--==VoxLetter_Multipart==--\r\n"):
        failures.append("-o did not write the mail")

    # A mail that cannot be written is a failure, not a refusal of the input.
    expect(GOOD + ["-o", os.path.join(tmp, "no", "such", "dir.eml")], 1, "cannot write", cwd=tmp)

    # A file that cannot be reached is refused before anything is written.
    os.remove(os.path.join(tmp, "s.wav"))
    expect(GOOD + ["--attach", "s.wav"], 2, "无法访问到附件文件" + os.path.join(tmp, "s.wav"), cwd=tmp)

# --recording stands for "Sound.wav" in the program's folder: a copy of the tool in a folder of its own
# keeps this away from any recording next to the built tool.
with tempfile.TemporaryDirectory() as tmp:
    own = os.path.join(tmp, "voxletter-cli")
    shutil.copy2(CLI, own)
    CLI = own
    expect(GOOD + ["--recording"], 2, "无法访问到录音文件", cwd=tmp)
    open(os.path.join(tmp, "Sound.wav"), "wb").write(b"RIFF-recording")
    r = expect(GOOD + ["--recording"], 0, cwd=tmp)
    if r.stderr or b"Content-ID: <VoxLetterYourSound>\r\n\r\nUklGRi1yZWNvcmRpbmc=\r\n" not in r.stdout:
        failures.append(f"the recording is not attached: {r.stderr!r}")

for f in failures:
    print("FAIL:", f)
print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
