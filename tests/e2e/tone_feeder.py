#!/usr/bin/env python3
"""Writes a multi-channel float32le signal into a FIFO at real-time pace: a sine of its own pitch on
every channel at amplitude 0.5 (channel 0 at 1000 Hz, channel 1 at 1500 Hz, channel k >= 2 at
2000 + 250 k Hz), so what reaches a file, a display or an MP3 shows which channel it came from.

Usage: tone_feeder.py FIFO RATE CHANNELS SECONDS"""
import array
import math
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "audio"))
from pipe_feeder import write_in_real_time  # noqa: E402


def pitch(channel):
    """Returns the frequency in Hz of a channel's sine."""
    return (1000, 1500)[channel] if channel < 2 else 2000 + 250 * channel


def one_second(rate, channels):
    """Returns one second of interleaved frames; whole-hertz pitches make it loop seamlessly."""
    samples = array.array("f", bytes(4 * rate * channels))
    for ch in range(channels):
        step = 2.0 * math.pi * pitch(ch) / rate
        for n in range(rate):
            samples[n * channels + ch] = 0.5 * math.sin(step * n)
    if sys.byteorder != "little":
        samples.byteswap()
    return samples.tobytes()


def main():
    fifo, rate, channels, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
    second = one_second(rate, channels)
    chunk_frames = rate // 100  # 10 ms
    chunk_bytes = chunk_frames * channels * 4

    def chunk_at(first):
        at = (first % rate) * channels * 4
        piece = second[at:at + chunk_bytes]
        return piece if len(piece) == chunk_bytes else piece + second[:chunk_bytes - len(piece)]

    write_in_real_time(fifo, rate, int(seconds * rate), chunk_frames, chunk_at)


if __name__ == "__main__":
    main()
