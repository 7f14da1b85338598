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


def write_in_real_time(fifo, rate, total_frames, chunk_frames, chunk_at):
    """Writes chunk_at(first_frame) for each chunk of chunk_frames frames into the FIFO, at the
    pace of rate frames a second, until total_frames have been written."""
    with open(fifo, "wb", buffering=0) as out:
        start, written = time.monotonic(), 0
        while written < total_frames:
            out.write(chunk_at(written))
            written += chunk_frames
            due = start + written / rate
            now = time.monotonic()
            if now < due:
                time.sleep(due - now)
            elif now - due > 0.05:
                # Blocked on a full pipe: carry on in real time rather than bursting to catch up.
                start = now - written / rate


def main():
    fifo, seconds = sys.argv[1], float(sys.argv[2])
    constant = float(sys.argv[3]) if len(sys.argv) > 3 else None

    def chunk_at(first):
        samples = []
        for n in range(first, first + CHUNK):
            samples.extend(frame(n) if constant is None else (constant, constant))
        return struct.pack("<%df" % len(samples), *samples)

    write_in_real_time(fifo, RATE, int(seconds * RATE), CHUNK, chunk_at)


if __name__ == "__main__":
    main()
