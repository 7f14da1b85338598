#!/usr/bin/env python3
"""Writes a known stereo float32le signal into a FIFO at real-time pace: that of pipe_signal.h, or
with a third argument, that value on both channels.

Usage: pipe_feeder.py FIFO SECONDS [CONSTANT]"""
import struct
import sys
import time

RATE = 44100
CHUNK = 441  # 10 ms


def frame(n):
    """Returns the two float samples of frame n, as pipe_signal.h computes them."""
    return ((n * 7919 % 65521) - 32760) / 32768.0, ((n % 65536) - 32768) / 32768.0


def main():
    fifo, seconds = sys.argv[1], float(sys.argv[2])
    constant = float(sys.argv[3]) if len(sys.argv) > 3 else None
    total = int(seconds * RATE)
    with open(fifo, "wb", buffering=0) as out:
        start, written = time.monotonic(), 0
        while written < total:
            samples = []
            for n in range(written, written + CHUNK):
                samples.extend(frame(n) if constant is None else (constant, constant))
            out.write(struct.pack("<%df" % len(samples), *samples))
            written += CHUNK
            due = start + written / RATE
            now = time.monotonic()
            if now < due:
                time.sleep(due - now)
            elif now - due > 0.05:
                # Blocked on a full pipe: carry on in real time rather than bursting to catch up.
                start = now - written / RATE


if __name__ == "__main__":
    main()
