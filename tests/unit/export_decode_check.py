#!/usr/bin/env python3
"""Checks the export's MP3 files from the Linux side: WAV files written by the program's own
header code are exported under Wine, decoded with `lame --decode`, and their duration and pitch
per channel compared with the input. With "disk-full" it exports into a tiny tmpfs instead and
expects the write failure to be reported with nothing cut off left behind (skipped, status 77,
where mounting is not allowed)."""
import os
import subprocess
import sys
import tempfile
import wave

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


def main():
    tool, mode = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="voxtrel-export-") as folder:
        failures = check_decode(tool, folder) if mode == "decode" else check_disk_full(tool, folder)
    if failures is None:
        return SKIP
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
