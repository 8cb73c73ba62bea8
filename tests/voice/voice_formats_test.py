#!/usr/bin/python3
"""The voice's forms in the mail, end to end through voxletter-cli compose: every row makes a mail from a
sound file with some options, takes the sound part apart, and checks its name, type and bytes; encoded
copies are decoded again by other programs than the ones that wrote them (opusdec for Opus, mpg123 for
MP3) and compared with the source: the same length within 20 ms, and the same spectrum (levels of
third-octave bands from 100 Hz to 7 kHz, or 0.9 of the source's Nyquist frequency, differ by at most
2.5 dB on average over the bands that carry sound). With normalising on, the decoded copy measures
-16 LUFS +/- 1 with its true peak under -1 dBTP (libebur128). Headless Chromium plays each format from
the mail's page and reports the length the media element knows."""

import ctypes
import email
import email.policy
import math
import os
import re
import shutil
import subprocess
import sys
import tempfile
import wave

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "compose"))
from render_page import chromium_command, write_page  # noqa: E402

CLI = os.path.abspath(sys.argv[1])
FIELDS = ["--from", "zs@example.org", "--to", "ls@example.com", "--subject", "voice", "--body", "hi"]

for tool in ("espeak-ng", "sox", "opusdec", "opusenc", "mpg123", "lame"):
    if shutil.which(tool) is None:
        print("SKIP: %s is not installed (Debian packages espeak-ng, sox, opus-tools, mpg123, lame)" % tool)
        sys.exit(77)

failures = []


def fail(row, text):
    print("FAIL %s: %s" % (row, text))
    failures.append(row)


def read_wav(path):
    """(rate, float samples shaped frames x channels) of a PCM WAV."""
    with wave.open(path, "rb") as w:
        rate, channels, width = w.getframerate(), w.getnchannels(), w.getsampwidth()
        raw = w.readframes(w.getnframes())
    if width == 1:
        data = (np.frombuffer(raw, dtype=np.uint8).astype(np.float64) - 128) / 128
    else:
        data = np.frombuffer(raw, dtype="<i2").astype(np.float64) / 32768
    return rate, data.reshape(-1, channels)


def band_levels(rate, data, top):
    """dB levels of third-octave bands from 100 Hz up to top, from the averaged spectrum of the mono mix."""
    mono = data.mean(axis=1)
    size = 4096
    window = np.hanning(size)
    frames = [mono[i:i + size] * window for i in range(0, len(mono) - size, size // 2)]
    power = np.mean([np.abs(np.fft.rfft(f)) ** 2 for f in frames], axis=0) / size
    freqs = np.fft.rfftfreq(size, 1 / rate)
    levels = []
    low = 100.0
    while low * 2 ** (1 / 3) <= top:
        high = low * 2 ** (1 / 3)
        levels.append(10 * math.log10(power[(freqs >= low) & (freqs < high)].sum() + 1e-20))
        low = high
    return np.array(levels)


def spectrum_distance(source, decoded):
    (r1, d1), (r2, d2) = source, decoded
    top = min(7000.0, 0.9 * r1 / 2, 0.9 * r2 / 2)
    a, b = band_levels(r1, d1, top), band_levels(r2, d2, top)
    loud = a > a.max() - 50  # bands that carry the speech
    return float(np.mean(np.abs(a[loud] - b[loud])))


EBUR = ctypes.CDLL("libebur128.so.1")
EBUR.ebur128_init.restype = ctypes.c_void_p
EBUR.ebur128_init.argtypes = [ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]


def loudness(rate, data):
    """(integrated LUFS, true peak dBTP) as libebur128 measures them."""
    state = ctypes.c_void_p(EBUR.ebur128_init(data.shape[1], rate, 5 | 49))  # EBUR128_MODE_I | _TRUE_PEAK
    frames = np.ascontiguousarray(data, dtype=np.float64)
    EBUR.ebur128_add_frames_double(state, frames.ctypes.data_as(ctypes.c_void_p), ctypes.c_size_t(len(frames)))
    lufs = ctypes.c_double()
    EBUR.ebur128_loudness_global(state, ctypes.byref(lufs))
    peak = 0.0
    for c in range(data.shape[1]):
        p = ctypes.c_double()
        EBUR.ebur128_true_peak(state, c, ctypes.byref(p))
        peak = max(peak, p.value)
    EBUR.ebur128_destroy(ctypes.byref(state))
    return lufs.value, 20 * math.log10(peak)


def sound_part(mail):
    with open(mail, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    for part in msg.walk():
        if part["Content-ID"] == "<VoxLetterYourSound>":
            return part
    return None


def decode(data, name, tmp):
    """The encoded bytes decoded to a 16-bit WAV by a program of their own format."""
    src = os.path.join(tmp, "decode-in" + os.path.splitext(name)[1])
    out = os.path.join(tmp, "decoded.wav")
    with open(src, "wb") as f:
        f.write(data)
    if name.endswith(".opus"):
        cmd = ["opusdec", "--quiet", src, out]
    else:
        cmd = ["mpg123", "--quiet", "-w", out, src]
    subprocess.run(cmd, check=True, capture_output=True, timeout=60)
    return read_wav(out)


PROBE = """<script>
const probe = document.createElement("pre");
probe.id = "probe";
const audio = document.querySelector("audio");
function report(text) { probe.textContent = text; document.body.appendChild(probe); }
audio.addEventListener("loadedmetadata", () => report("duration=" + audio.duration));
audio.addEventListener("error", () => report("error " + (audio.error && audio.error.code)));
if (audio.readyState >= 1) report("duration=" + audio.duration);
</script>"""


def chromium_duration(mail, tmp):
    folder = tempfile.mkdtemp(dir=tmp)
    page = write_page(mail, folder, PROBE)
    r = subprocess.run(chromium_command(os.path.join(tmp, "profile")) +
                       ["--virtual-time-budget=10000", "--dump-dom", "file://" + page],
                       capture_output=True, timeout=120)
    found = re.search(r'<pre id="probe">duration=([0-9.]+)</pre>', r.stdout.decode("utf-8", "replace"))
    return float(found.group(1)) if found else None


with tempfile.TemporaryDirectory() as tmp:
    def path(name):
        return os.path.join(tmp, name)

    speech = path("speech.wav")
    subprocess.run(["espeak-ng", "-w", speech, "This is the voice letter. It should sound good, travel light, "
                    "and never be lost on its way to you."], check=True)
    # Sources in the recording window's formats, a quiet and a loud one, a picked Opus and MP3 file, and a
    # file that says it is a WAV but is not one.
    sources = {
        "44k-stereo.wav": ["-r", "44100", "-c", "2", "-b", "16"],
        "22k-mono.wav": ["-r", "22050", "-c", "1", "-b", "16"],
        "8k-8bit.wav": ["-r", "8000", "-c", "1", "-b", "8"],
        "quiet.wav": ["-r", "22050", "-c", "1", "-b", "16", "gain", "-30"],
        "loud.wav": ["-r", "44100", "-c", "2", "-b", "16", "gain", "-n", "0", "compand", "0.01,0.1",
                     "-60,-20,0,0"],
    }
    for name, args in sources.items():
        subprocess.run(["sox", speech, *args[:6], path(name), *args[6:]], check=True, capture_output=True)
    subprocess.run(["opusenc", "--quiet", path("22k-mono.wav"), path("picked.opus")], check=True)
    subprocess.run(["lame", "--quiet", path("22k-mono.wav"), path("picked.mp3")], check=True)
    with open(path("broken.wav"), "wb") as f:
        f.write(b"RIFF\x24\x00\x00\x00WAVEjunk" + bytes(64))

    # source, options, expected part name and type; "as-is": the part holds the file's own bytes.
    ROWS = [
        ("44k-stereo.wav", [], "44k-stereo.wav", "audio/wav", "as-is"),
        ("44k-stereo.wav", ["--voice-format", "opus"], "Sound.opus", "audio/ogg; codecs=opus", "encoded"),
        ("22k-mono.wav", ["--voice-format", "opus"], "Sound.opus", "audio/ogg; codecs=opus", "encoded"),
        ("8k-8bit.wav", ["--voice-format", "opus"], "Sound.opus", "audio/ogg; codecs=opus", "encoded"),
        ("44k-stereo.wav", ["--voice-format", "mp3"], "Sound.mp3", "audio/mpeg", "encoded"),
        ("8k-8bit.wav", ["--voice-format", "mp3"], "Sound.mp3", "audio/mpeg", "encoded"),
        ("picked.opus", ["--voice-format", "mp3"], "picked.opus", "audio/ogg", "as-is"),
        ("picked.mp3", ["--voice-format", "opus", "--normalize-voice"], "picked.mp3", "audio/mpeg", "as-is"),
        ("quiet.wav", ["--normalize-voice"], "Sound.wav", "audio/wav", "loudness"),
        ("loud.wav", ["--normalize-voice"], "Sound.wav", "audio/wav", "loudness"),
        ("quiet.wav", ["--voice-format", "opus", "--normalize-voice"], "Sound.opus", "audio/ogg; codecs=opus",
         "loudness"),
        ("loud.wav", ["--voice-format", "opus", "--normalize-voice"], "Sound.opus", "audio/ogg; codecs=opus",
         "loudness"),
        ("quiet.wav", ["--voice-format", "mp3", "--normalize-voice"], "Sound.mp3", "audio/mpeg", "loudness"),
        ("loud.wav", ["--voice-format", "mp3", "--normalize-voice"], "Sound.mp3", "audio/mpeg", "loudness"),
        ("broken.wav", ["--voice-format", "opus"], "broken.wav", "audio/wav", "failed"),
    ]
    played = {}
    for number, (source, options, want_name, want_type, check) in enumerate(ROWS):
        row = "%s %s" % (source, " ".join(options) or "(default)")
        mail = path("mail%d.eml" % number)
        r = subprocess.run([CLI, "compose", *FIELDS, "--sound", path(source), *options, "-o", mail],
                           capture_output=True, timeout=120)
        stderr = r.stderr.decode("utf-8", "replace")
        if r.returncode != 0:
            fail(row, "exit %d: %s" % (r.returncode, stderr))
            continue
        part = sound_part(mail)
        if part is None:
            fail(row, "no sound part")
            continue
        data = part.get_payload(decode=True)
        got_type = part.get_content_type()
        if part["Content-Type"].params.get("codecs"):
            got_type += "; codecs=" + part["Content-Type"].params["codecs"]
        if part.get_filename() != want_name or got_type != want_type:
            fail(row, "part %r typed %r" % (part.get_filename(), got_type))
        with open(path(source), "rb") as f:
            original = f.read()
        if check in ("as-is", "failed"):
            if data != original:
                fail(row, "the part is not the file's own bytes")
            if (check == "failed") != ("声音编码失败，邮件中附上原来的声音：" in stderr):
                fail(row, "encoding failure reported as %r" % stderr)
            print("ok  %-50s %8d bytes, as it is" % (row, len(data)))
            continue
        src = read_wav(path(source))
        if want_name == "Sound.wav":
            with open(path("copy.wav"), "wb") as f:
                f.write(data)
            out = read_wav(path("copy.wav"))
        else:
            out = decode(data, want_name, tmp)
        length_off = abs(len(out[1]) / out[0] - len(src[1]) / src[0])
        if length_off > 0.020:
            fail(row, "decoded length differs by %.3f s" % length_off)
        if check == "encoded":
            distance = spectrum_distance(src, out)
            if distance > 2.5:
                fail(row, "spectrum differs by %.2f dB per band" % distance)
            print("ok  %-50s %8d bytes, length off %.4f s, spectrum off %.2f dB" % (row, len(data), length_off,
                                                                                    distance))
            if source == "44k-stereo.wav":
                played[want_name] = mail
        else:
            lufs, peak = loudness(*out)
            if abs(lufs + 16) > 1 or peak >= -1:
                fail(row, "decoded loudness %.2f LUFS, true peak %.2f dBTP" % (lufs, peak))
            print("ok  %-50s %8d bytes, %.2f LUFS, true peak %.2f dBTP (source %.2f LUFS)" %
                  (row, len(data), lufs, peak, loudness(*src)[0]))
    played["44k-stereo.wav"] = path("mail0.eml")

    if shutil.which("chromium") is None:
        print("note: chromium is not installed; the page's player was not tried")
    else:
        seconds = len(read_wav(path("44k-stereo.wav"))[1]) / 44100
        for name, mail in sorted(played.items()):
            duration = chromium_duration(mail, tmp)
            if duration is None or abs(duration - seconds) > 0.05:
                fail("chromium " + name, "the player reports %r, the voice is %.3f s" % (duration, seconds))
            else:
                print("ok  chromium plays %-32s %.3f s (voice %.3f s)" % (name, duration, seconds))

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
