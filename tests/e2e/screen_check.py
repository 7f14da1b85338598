#!/usr/bin/env python3
"""Compares what the screen shows in the two GL areas of the running program with what they
must show.

Usage: screen_check.py EXPECTED_WAVEFORM.ppm SCREEN_WAVEFORM.ppm SCREEN_SPECTRUM.ppm

The waveform area must hold, pixel for pixel, the frame that the program's drawing code makes of
the same live state (read back from its own GL surface by tools/frame_snapshot); the spectrum area,
which nothing draws into, must be black. Exits 0 when both hold, 1 otherwise, with a summary."""
import sys

GREEN = (0, 255, 0)
RED = (255, 0, 0)
BLACK = (0, 0, 0)


def read_ppm(path):
    """Returns (width, height, pixels) of a binary PPM, pixels as a list of RGB tuples, top row first."""
    with open(path, "rb") as f:
        data = f.read()
    fields, at = [], 0
    while len(fields) < 4:
        while data[at:at + 1].isspace():
            at += 1
        if data[at:at + 1] == b"#":
            at = data.index(b"\n", at) + 1
            continue
        end = at
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[at:end])
        at = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError(f"{path}: not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    body = data[at + 1:at + 1 + width * height * 3]
    if len(body) != width * height * 3:
        raise ValueError(f"{path}: {len(body)} bytes of pixels, {width * height * 3} expected")
    return width, height, [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]


def count(pixels, colour):
    """Returns how many pixels have the colour."""
    return sum(1 for p in pixels if p == colour)


def main():
    expected_w, expected_h, expected = read_ppm(sys.argv[1])
    shot_w, shot_h, shot = read_ppm(sys.argv[2])
    spectrum_w, spectrum_h, spectrum = read_ppm(sys.argv[3])
    failures = []
    if (shot_w, shot_h) != (expected_w, expected_h):
        failures.append(f"waveform area is {shot_w}x{shot_h}, the frame {expected_w}x{expected_h}")
    else:
        wrong = [i for i, (a, b) in enumerate(zip(expected, shot)) if a != b]
        if wrong:
            first = wrong[0]
            failures.append(f"{len(wrong)} of {len(shot)} waveform pixels differ from the frame, the first at "
                            f"column {first % shot_w}, row {first // shot_w}: {shot[first]} for {expected[first]}")
    if count(expected, GREEN) == 0 or count(expected, RED) == 0:
        failures.append("the expected frame itself shows no green or no red trace")
    not_black = len(spectrum) - count(spectrum, BLACK)
    if not_black:
        failures.append(f"{not_black} of {len(spectrum)} pixels of the spectrum area are not black")
    print(f"screen: waveform area {shot_w}x{shot_h} with {count(shot, GREEN)} green and {count(shot, RED)} red "
          f"pixels (frame: {count(expected, GREEN)} and {count(expected, RED)}); spectrum area "
          f"{spectrum_w}x{spectrum_h}, {not_black} pixels not black")
    for failure in failures:
        print("  " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
