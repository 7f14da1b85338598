#!/usr/bin/env python3
"""Writes a stereo float32le signal at 48000 Hz into a FIFO at real-time pace, the same on both
channels, switching to whatever the control file names as soon as it changes, so a test can walk
the running program through a sequence of inputs and look at the screen after each.

Usage: screen_feeder.py FIFO CONTROL_FILE SECONDS
The control file holds one line: "constant V", "sine HZ AMPLITUDE", "silence" or "clicks V" (one
sample of V every quarter second, silence between)."""
import math
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "audio"))
from pipe_feeder import write_in_real_time  # noqa: E402

RATE = 48000
CHUNK = 480  # 10 ms


def sample(signal, n):
    """Returns sample n of the signal the control file names."""
    words = signal.split()
    if not words or words[0] == "silence":
        return 0.0
    if words[0] == "constant":
        return float(words[1])
    if words[0] == "sine":
        return float(words[2]) * math.sin(2 * math.pi * float(words[1]) * n / RATE)
    if words[0] == "clicks":
        return float(words[1]) if n % (RATE // 4) == 0 else 0.0
    raise ValueError(f"unknown signal: {signal}")


def main():
    fifo, control, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])

    def chunk_at(first):
        try:
            with open(control) as f:
                signal = f.read().strip()
        except OSError:
            signal = "silence"
        samples = []
        for n in range(first, first + CHUNK):
            value = sample(signal, n)
            samples.extend((value, value))
        return struct.pack("<%df" % len(samples), *samples)

    write_in_real_time(fifo, RATE, int(seconds * RATE), CHUNK, chunk_at)


if __name__ == "__main__":
    main()
