"""Representative mails written by voxletter-cli compose, shared by the tests that hand them to other
programs: a Chinese note, a voice mail with a background picture, and a mail with attachments."""

import math
import os
import subprocess
import wave

SOURCE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(SOURCE))

# What the composer window uses when nothing is chosen.
DEFAULT_FONT = ["--font", "WenQuanYi Micro Hei", "--size", "9"]


def write_voice(path, seconds=2.0, rate=8000):
    """A short falling tone, 16-bit mono PCM."""
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        frames = bytearray()
        for i in range(int(seconds * rate)):
            f = 440 - 200 * i / (seconds * rate)
            frames += int(6000 * math.sin(2 * math.pi * f * i / rate)).to_bytes(2, "little", signed=True)
        w.writeframes(bytes(frames))


def write_picture(path):
    """The composer's own tile as a JPEG, the most common background picture."""
    subprocess.run(["convert", os.path.join(ROOT, "res", "tile.png"), "-quality", "85", path], check=True)


SAMPLES = {
    "note": ["--from", "张三 <zs@example.org>", "--to", "ls@example.com", "--subject", "周末聚会",
             "--body", "你好，\n周六晚上七点在老地方见。\n张三"],
    "voice": ["--from", "张三 <zs@example.org>", "--to", "ls@example.com;王五 <w5@example.net>",
              "--subject", "给你的语音留言", "--body", "听听这段录音，有空回个电话。\n张三",
              "--sound", "voice.wav", "--background-picture", "tile.jpg", "--loops", "1"],
    "files": ["--from", "zs@example.org", "--to", "ls@example.com", "--cc", "w5@example.net",
              "--subject", "Meeting notes and the recording",
              "--body", "Hi,\nthe notes and yesterday's recording are attached.\nZhang",
              "--sound", "voice.wav", "--attach", "会议 纪要.txt", "--attach", "data.bin"],
}


def write_samples(cli, folder):
    """Writes the files the samples use and the samples themselves; returns {name: path of the mail}."""
    write_voice(os.path.join(folder, "voice.wav"))
    write_picture(os.path.join(folder, "tile.jpg"))
    with open(os.path.join(folder, "会议 纪要.txt"), "w", encoding="utf-8") as f:
        f.write("会议纪要\n一、下周发布\n二、测试全部通过\n")
    with open(os.path.join(folder, "data.bin"), "wb") as f:
        f.write(bytes((i * 37) & 0xFF for i in range(3000)))
    mails = {}
    for name, args in SAMPLES.items():
        out = os.path.join(folder, name + ".eml")
        subprocess.run([cli, "compose", *args, *DEFAULT_FONT, "-o", out], cwd=folder, check=True,
                       capture_output=True, timeout=60)
        mails[name] = out
    return mails
