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
        (["--frm", "me@x.org"], '未知的选项"--frm"'),
        (GOOD + ["extra"], '多余的参数"extra"'),
        (GOOD + ["--subject"], "选项--subject需要一个值"),
        (["--from", "--to", "a@b.com"], "选项--from需要一个值"),
        # A value that begins with "-" is written --option=VALUE; on its own it is the next option.
        (GOOD + ["--subject", "--x"], "选项--subject需要一个值"),
        (GOOD + ["--bold=yes"], "选项--bold不带值"),
        (GOOD + ["--to", "c@d.com"], "选项--to只能给出一次"),
        (GOOD + ["--italic", "--italic"], "选项--italic只能给出一次"),
        (GOOD + ["--sound", "s.wav", "--recording"], "选项--sound和--recording不能同时给出"),
        (GOOD + ["--body", "x", "--body-file", "s.wav"], "选项--body和--body-file不能同时给出"),
        (GOOD + ["--size", "big"], "选项--size"),
        (GOOD + ["--color", "red"], "选项--color"),
        (GOOD + ["--align", "middle"], "选项--align"),
        (GOOD + ["--loops", "x"], "选项--loops"),
        (GOOD + ["--body-file", "missing.txt"], "无法读取正文文件"),
        (GOOD + ["--subject", "hi\nBcc: x@y.z"], "主题不能含有换行"),
        (["--to", "a@b.com"], "请正确填写发件人"),
        (["--from", "me@x.org"], "请正确填写收件人"),
        (["--from", "me@x.org", "--to", "a@b.com;;c@d.com"], '条目""（第8字节）'),
        (GOOD + ["--cc", "nobody"], "请正确填写抄送"),
        (GOOD + ["--bcc", "x@y.z\r\nDATA"], "请正确填写暗送"),
        (GOOD + ["--sound", "nope.wav"], "无法访问到声音文件"),
        (GOOD + ["--background-picture", "nope.gif"], "无法访问到背景图片文件"),
    ]
    for args, message in cases:
        expect(args, 2, message, cwd=tmp)

    # record reads its options by the same rules (refused before any sound device is opened).
    for args, message in [
        (["--seconds=x"], '选项--seconds需要从0起的整数，而不是"x"'),
        (["--seconds", "1", "--seconds=2"], "选项--seconds只能给出一次"),
        (["--rate", "8001"], "选项--rate需要8000、11025、22050或44100"),
        (["--bits"], "选项--bits需要一个值"),
        (["--channels", "1", "stereo"], '多余的参数"stereo"'),
        (["--seconds", "4000", "--rate=44100", "--bits=16", "--channels=2"], "4000秒太长；以44100 Hz、16位、2声道录音，最长只能录3043秒"),
    ]:
        expect(args, 2, "voxletter-cli record: " + message, cwd=tmp, command="record")
    expect(["--sound=x"], 2, '未知的选项"--sound"', cwd=tmp, command="record")
    for args, message in [([], "Usage: voxletter-cli"), (["mail"], '未知的命令"mail"')]:
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
    expect(GOOD + ["-o", os.path.join(tmp, "no", "such", "dir.eml")], 1, "无法写入", cwd=tmp)

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
