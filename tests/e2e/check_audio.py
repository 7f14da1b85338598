#!/usr/bin/env python3
"""Checks a 16-bit PCM WAV file: format, duration, RMS and dominant frequency."""
import argparse
import math
import struct
import sys
import wave


def dominant_frequency(samples, rate):
    """Returns the frequency (Hz) of the strongest Goertzel probe between 50 Hz and 3 kHz."""
    block = samples[:4096]
    best_freq, best_power = 0.0, -1.0
    for freq in range(50, 3000, 5):
        coeff = 2.0 * math.cos(2.0 * math.pi * freq / rate)
        s_prev = s_prev2 = 0.0
        for x in block:
            s = x + coeff * s_prev - s_prev2
            s_prev2, s_prev = s_prev, s
        power = s_prev2 * s_prev2 + s_prev * s_prev - coeff * s_prev * s_prev2
        if power > best_power:
            best_freq, best_power = float(freq), power
    return best_freq


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("wav")
    parser.add_argument("--rate", type=int)
    parser.add_argument("--channels", type=int)
    parser.add_argument("--min-seconds", type=float, default=0.0)
    parser.add_argument("--max-seconds", type=float, default=1e9)
    parser.add_argument("--freq", type=float)
    parser.add_argument("--rms", type=float)
    parser.add_argument("--channel", type=int, default=0, help="the channel whose RMS and pitch are checked")
    parser.add_argument("--length-of", help="another WAV file whose duration this one must have")
    parser.add_argument("--tolerance", type=float, default=0.1, help="seconds of difference --length-of allows")
    parser.add_argument("--whole", action="store_true",
                        help="the file is the 44-byte header and exactly the data it declares")
    args = parser.parse_args()

    with wave.open(args.wav, "rb") as w:
        rate, channels, width, frames = w.getframerate(), w.getnchannels(), w.getsampwidth(), w.getnframes()
        data = w.readframes(frames)
    failures = []
    if args.whole:
        with open(args.wav, "rb") as f:
            raw = f.read()
        riff_size, data_size = struct.unpack("<I", raw[4:8])[0], struct.unpack("<I", raw[40:44])[0]
        if len(raw) != 44 + data_size or riff_size != data_size + 36:
            failures.append(f"{len(raw)} bytes, but the header declares {data_size} bytes of data (RIFF size {riff_size})")
    if width != 2:
        failures.append(f"sample width {width}, expected 2")
    if args.rate and rate != args.rate:
        failures.append(f"rate {rate}, expected {args.rate}")
    if args.channels and channels != args.channels:
        failures.append(f"channels {channels}, expected {args.channels}")
    seconds = frames / rate if rate else 0.0
    if not args.min_seconds <= seconds <= args.max_seconds:
        failures.append(f"duration {seconds:.3f} s outside [{args.min_seconds}, {args.max_seconds}]")
    count = len(data) // 2
    values = struct.unpack("<%dh" % count, data[: count * 2])
    if args.channel >= channels:
        failures.append(f"no channel {args.channel} in {channels}")
    first = [v / 32768.0 for v in values[args.channel::channels]]
    # Skip the first tenth of a second: an encoder's delay or a stream's start.
    body = first[rate // 10:] if len(first) > rate // 5 else first
    rms = math.sqrt(sum(v * v for v in body) / len(body)) if body else 0.0
    freq = dominant_frequency(body, rate) if body else 0.0
    if args.length_of:
        with wave.open(args.length_of, "rb") as other:
            other_seconds = other.getnframes() / other.getframerate()
        if abs(seconds - other_seconds) > args.tolerance:
            failures.append(f"duration {seconds:.3f} s, but {args.length_of} lasts {other_seconds:.3f} s")
    if args.rms is not None and abs(rms - args.rms) > 0.05 * args.rms:
        failures.append(f"RMS {rms:.4f}, expected {args.rms}")
    if args.freq is not None and abs(freq - args.freq) > 10:
        failures.append(f"dominant frequency {freq} Hz, expected {args.freq}")
    print(f"{args.wav}: {rate} Hz, {channels} ch, {seconds:.3f} s, channel {args.channel}: RMS {rms:.4f}, peak {freq} Hz")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
