#!/usr/bin/env python3
"""Checks that a 16-bit stereo WAV holds one unbroken run of the pipe feeder's known signal
(tests/audio/pipe_signal.h): every frame, in order, none lost, doubled or changed.

Usage: check_feed.py WAV MIN_SECONDS"""
import struct
import sys
import wave

RATE = 44100


def pcm(value):
    """Returns floatToPcm16 of a float32 value: its product with 32767 rounded to single
    precision, then truncated toward zero."""
    product = struct.unpack("<f", struct.pack("<f", value * 32767.0))[0]
    return int(product)


def frame(n):
    """Returns the two PCM samples the program records for fed frame n."""
    return pcm(((n * 7919 % 65521) - 32760) / 32768.0), pcm(((n % 65536) - 32768) / 32768.0)


def main():
    path, min_seconds = sys.argv[1], float(sys.argv[2])
    with wave.open(path, "rb") as w:
        if w.getnchannels() != 2 or w.getframerate() != RATE or w.getsampwidth() != 2:
            print(f"FAIL: {path}: not 16-bit stereo at {RATE} Hz")
            return 1
        data = w.readframes(w.getnframes())
    samples = struct.unpack("<%dh" % (len(data) // 2), data)
    frames = len(samples) // 2
    if frames < min_seconds * RATE:
        print(f"FAIL: {frames / RATE:.2f} s recorded, at least {min_seconds} s expected")
        return 1
    # The second channel is a ramp that repeats every 65536 frames (about 1.5 s): its first value
    # names the place in the ramp, and the first channel tells which turn of it.
    places = [k + 32768 for k in range(-32768, 32768) if pcm(k / 32768.0) == samples[1]]
    start = None
    for turn in range(128):
        for place in places:
            n = place + 65536 * turn
            if all(frame(n + i) == (samples[2 * i], samples[2 * i + 1]) for i in range(64)):
                start = n
                break
        if start is not None:
            break
    if start is None:
        print(f"FAIL: the first recorded frames are not fed frames: {samples[:4]}")
        return 1
    for i in range(frames):
        if frame(start + i) != (samples[2 * i], samples[2 * i + 1]):
            print(f"FAIL: recorded frame {i} of {frames} is not fed frame {start + i}: a frame was lost or changed")
            return 1
    print(f"{path}: {frames} frames ({frames / RATE:.2f} s), fed frames {start} to {start + frames - 1}, none missing")
    return 0


if __name__ == "__main__":
    sys.exit(main())
