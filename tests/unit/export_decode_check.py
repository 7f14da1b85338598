#!/usr/bin/env python3
"""Checks the export's MP3 files from the Linux side: WAV files written by the program's own
header code are exported under Wine, decoded with `lame --decode`, and their duration and pitch
per channel compared with the input. With "disk-full" it exports into a tiny tmpfs instead and
expects the write failure to be reported with nothing cut off left behind (skipped, status 77,
where mounting is not allowed). With "parallel" it exports long recordings in segments and in
one pass and decodes both with mpg123, a decoder independent of the encoder: every frame must
parse, and both must decode, gaplessly, to exactly the recording's length and to the same
samples, with silence and a full-scale click exactly at joins, the segments' file at most 1 %
bigger."""
import math
import os
import random
import subprocess
import sys
import tempfile
import wave
from array import array

SKIP = 77


def wine_path(path):
    """Returns the Windows form of a Linux path (Wine maps / to drive Z:)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run_tool(tool, *args):
    """Runs the export host under Wine; returns its status and printed lines."""
    done = subprocess.run(["wine", tool] + list(args), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          timeout=120, text=True)
    return done.returncode, [line.strip() for line in done.stdout.splitlines()]


def channel_pitches(path):
    """Returns (frames, rate, [Hz per channel]) of a decoded WAV, from zero crossings."""
    with wave.open(path, "rb") as w:
        channels, rate, frames = w.getnchannels(), w.getframerate(), w.getnframes()
        data = w.readframes(frames)
    samples = [int.from_bytes(data[i:i + 2], "little", signed=True) for i in range(0, len(data), 2)]
    pitches = []
    for c in range(channels):
        chan = samples[c::channels][rate // 10:-(rate // 10)]  # away from the edges
        crossings = sum(1 for a, b in zip(chan, chan[1:]) if (a < 0) != (b < 0))
        pitches.append(crossings / 2.0 / (len(chan) / rate))
    return frames, rate, pitches


def check_decode(tool, folder):
    """Exports a stereo and a mono tone and checks duration and pitch of the decoded MP3."""
    failures = []
    cases = [("stereo", 3.0, 48000, 2, 440.0, 1000.0), ("mono", 2.5, 44100, 1, 440.0, 0.0),
             ("stereo-22050", 2.0, 22050, 2, 300.0, 700.0)]
    for name, seconds, rate, channels, left, right in cases:
        wav, mp3, decoded = (os.path.join(folder, name + ext) for ext in (".wav", ".mp3", "-decoded.wav"))
        run_tool(tool, "tone", wine_path(wav), str(seconds), str(rate), str(channels), str(left), str(right))
        status, lines = run_tool(tool, "export", wine_path(wav), wine_path(mp3))
        if status != 0:
            failures.append(f"{name}: export status {status}, {lines}")
            continue
        subprocess.run(["lame", "--quiet", "--decode", mp3, decoded], check=True)
        frames, out_rate, pitches = channel_pitches(decoded)
        expected = int(seconds * rate)
        print(f"{name}: {frames} frames decoded for {expected}, pitches {pitches}")
        if out_rate != rate:
            failures.append(f"{name}: decoded at {out_rate} Hz")
        if abs(frames - expected) > 1152:  # beyond the encoder's delay and padding
            failures.append(f"{name}: {frames} frames decoded, {expected} expected")
        for got, want in zip(pitches, [left, right][:channels]):
            if abs(got - want) > want * 0.01:
                failures.append(f"{name}: pitch {got:.1f} Hz, {want} Hz expected")
        if sorted(os.listdir(folder)) != sorted(n for n in os.listdir(folder) if not n.endswith(".part")):
            failures.append(f"{name}: a partial file is left")
    return failures


def check_disk_full(tool, folder):
    """Exports into a tmpfs too small for the MP3; expects the error and the older MP3 intact."""
    full = os.path.join(folder, "full")
    os.mkdir(full)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", full],
                      stderr=subprocess.DEVNULL).returncode != 0:
        print("cannot mount a small tmpfs here: skipped")
        return None
    try:
        older = os.path.join(full, "out.mp3")
        with open(older, "wb") as f:
            f.write(b"\xAB" * 8000)
        wav = os.path.join(folder, "long.wav")
        run_tool(tool, "tone", wine_path(wav), "60", "48000", "2", "440", "1000")
        status, lines = run_tool(tool, "export", wine_path(wav), wine_path(older))
        print(f"disk full: status {status}, {lines}, left {sorted(os.listdir(full))}")
        failures = []
        if status != 1 or lines != ["message: Failed to write MP3 output file."]:
            failures.append(f"disk full: status {status}, {lines}")
        if sorted(os.listdir(full)) != ["out.mp3"]:
            failures.append(f"disk full: left {sorted(os.listdir(full))}")
        with open(older, "rb") as f:
            if f.read() != b"\xAB" * 8000:
                failures.append("disk full: the older MP3 was changed")
        return failures
    finally:
        subprocess.run(["umount", full])


SEGMENT_MIN_SECONDS, SEGMENTS_PER_THREAD, ENCODER_DELAY = 5, 4, 576
MPEG1_KBPS = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0]
MPEG2_KBPS = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0]


def single_pass_frames(samples, per_frame):
    """Returns the audio frames the encoder makes of that many samples (delay, then padding)."""
    encoded = ENCODER_DELAY + samples
    padding = per_frame - encoded % per_frame
    if padding < 576:
        padding += per_frame
    return (encoded + padding) // per_frame


def join_samples(samples, rate, threads):
    """Returns the recording's sample positions where the export joins its segments."""
    per_frame = 1152 if rate >= 32000 else 576
    count = min(samples // (SEGMENT_MIN_SECONDS * rate), threads * SEGMENTS_PER_THREAD)
    total = single_pass_frames(samples, per_frame)
    return [total * k // count * per_frame - ENCODER_DELAY for k in range(1, count)]


def write_busy_wav(path, samples, rate, channels, quiet_from, click_at, loud):
    """Writes tones with noise and clicks, one second of silence from quiet_from and a
    full-scale click at click_at; loud: full-scale noise only (the encoder's hardest case)."""
    draw, data = random.Random(12345), array("h")
    for f in range(samples):
        for c in range(channels):
            noise = draw.randint(-1500, 1500)
            if loud:
                v = draw.randint(-32768, 32767)
            else:
                v = 9000 * math.sin(2 * math.pi * (220 + 330 * c) * f / rate) + noise
                if f % (rate * 7 // 10) < 40:
                    v = 30000
            if click_at <= f < click_at + 8:
                v = 32767 if c == 0 else -32768
            if quiet_from <= f < quiet_from + rate:
                v = 0
            data.append(int(max(-32768, min(32767, v))))
    with wave.open(path, "wb") as w:
        w.setnchannels(channels)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(data.tobytes())


def crc16(data):
    """Returns the CRC-16 (0x8005 reflected) of the encoder's VBR header extension."""
    crc = 0
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def frame_problems(mp3):
    """Walks every frame of an MP3 file; returns what is wrong with its frames or VBR header."""
    with open(mp3, "rb") as f:
        data = f.read()
    pos, frames, first = 0, 0, None
    while pos + 4 <= len(data):
        h = data[pos:pos + 4]
        version, layer, rate_index = (h[1] >> 3) & 3, (h[1] >> 1) & 3, (h[2] >> 2) & 3
        if h[0] != 0xFF or (h[1] & 0xE0) != 0xE0 or version == 1 or layer != 1 or rate_index == 3:
            return [f"no frame at byte {pos}"]
        kbps = (MPEG1_KBPS if version == 3 else MPEG2_KBPS)[h[2] >> 4]
        rate = [44100, 48000, 32000][rate_index] // {3: 1, 2: 2, 0: 4}[version]
        if kbps == 0:
            return [f"bad bitrate at byte {pos}"]
        length = (144 if version == 3 else 72) * kbps * 1000 // rate + ((h[2] >> 1) & 1)
        if first is None:
            first = (pos, length, 4 + (17 if (h[3] >> 6) == 3 else 32) if version == 3 else 4 + (9 if (h[3] >> 6) == 3 else 17))
        frames += 1
        pos += length
    if pos != len(data):
        return [f"the last frame is cut at byte {pos} of {len(data)}"]
    _, length, xing = first
    tag = data[:length]
    problems = []
    if tag[xing:xing + 4] != b"Xing" or tag[xing + 120:xing + 124] != b"LAME":
        return ["no VBR header"]
    if int.from_bytes(tag[xing + 8:xing + 12], "big") != frames - 1:
        problems.append("the VBR header's frame count is wrong")
    if int.from_bytes(tag[xing + 12:xing + 16], "big") != len(data):
        problems.append("the VBR header's byte count is wrong")
    ext = xing + 120
    if int.from_bytes(tag[ext + 34:ext + 36], "big") != crc16(tag[:ext + 34]):
        problems.append("the VBR header's CRC is wrong")
    if int.from_bytes(tag[ext + 32:ext + 34], "big") != crc16(data[length:]):
        problems.append("the music CRC is wrong")
    return problems


def mpg123_decode(mp3, out):
    """Decodes with mpg123 (gapless by default); returns its error text, empty when none."""
    done = subprocess.run(["mpg123", "--quiet", "-w", out, mp3], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                          text=True, timeout=120)
    return done.stderr.strip() if done.returncode != 0 or done.stderr.strip() else ""


def pcm_frames(path):
    """Returns (frames, channels, samples) of a decoded WAV."""
    with wave.open(path, "rb") as w:
        channels = w.getnchannels()
        samples = array("h", w.readframes(w.getnframes()))
    return len(samples) // channels, channels, samples


def check_parallel(tool, folder):
    """Exports long recordings in segments and in one pass; decodes both with mpg123."""
    failures = []
    cases = [("stereo-48000", 20, 48000, 2, 2, False), ("mono-44100", 20, 44100, 1, 3, False),
             ("stereo-32000", 12, 32000, 2, 2, False), ("loud-noise-48000", 12, 48000, 2, 2, True)]
    for name, seconds, rate, channels, threads, loud in cases:
        samples = seconds * rate
        joins = join_samples(samples, rate, threads)
        wav = os.path.join(folder, name + ".wav")
        write_busy_wav(wav, samples, rate, channels, joins[0], joins[-1], loud)
        sizes, decoded = {}, {}
        for label, count in (("one pass", 1), ("segments", threads)):
            mp3 = os.path.join(folder, f"{name}-{count}.mp3")
            status, lines = run_tool(tool, "export", wine_path(wav), wine_path(mp3), str(count))
            if status != 0:
                failures.append(f"{name} {label}: export status {status}, {lines}")
                break
            failures += [f"{name} {label}: {p}" for p in frame_problems(mp3)]
            error = mpg123_decode(mp3, mp3 + ".wav")
            if error:
                failures.append(f"{name} {label}: mpg123 says {error}")
            sizes[label] = os.path.getsize(mp3)
            decoded[label] = pcm_frames(mp3 + ".wav")
            if decoded[label][0] != samples:
                failures.append(f"{name} {label}: {decoded[label][0]} samples decoded, {samples} recorded")
        if len(decoded) < 2:
            continue
        growth = sizes["segments"] / sizes["one pass"] - 1
        alike = decoded["segments"][2] == decoded["one pass"][2]
        print(f"{name}: joins at {joins}; {sizes['segments']} bytes in segments, {sizes['one pass']} in one pass "
              f"({growth * 100:+.3f} %); decoded alike: {alike}")
        if growth >= 0.01:
            failures.append(f"{name}: the segments' MP3 is {growth * 100:+.2f} % bigger than one pass's")
        if not alike:
            failures.append(f"{name}: the segments' MP3 decodes unlike one pass's")
    for leftover in (n for n in os.listdir(folder) if n.endswith(".part")):
        failures.append(f"a partial file is left: {leftover}")
    return failures


def main():
    tool, mode = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="voxtrel-export-") as folder:
        checks = {"decode": check_decode, "disk-full": check_disk_full, "parallel": check_parallel}
        failures = checks[mode](tool, folder)
    if failures is None:
        return SKIP
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
