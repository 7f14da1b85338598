#!/usr/bin/env python3
# Draws Voxtrel's icon, a white microphone on a blue rounded square, and writes it as a Windows
# icon file with 16, 32, 48 and 256 pixel images: the small ones as 32-bit bitmaps with their
# transparency mask (what every Windows reads), the 256 pixel one as PNG (what Explorer reads for
# its large views). Only the Python standard library is used, and the output is the same bytes on
# every run, so the committed app/voxtrel.ico can always be made again.
#
# Copyright (C) 2026 The Voxtrel developers. Free software under the GNU General Public License,
# version 2 or later, as the rest of Voxtrel; see LICENSE.
#
# Usage: tools/make_icon.py [OUTPUT]   (default: app/voxtrel.ico next to this folder)
import math
import os
import struct
import sys
import zlib

SIZES = (16, 32, 48, 256)
SUPERSAMPLES = 4  # per axis: 16 samples per pixel smooth the edges
TOP_BLUE = (0x35, 0x8B, 0xF0)
BOTTOM_BLUE = (0x17, 0x4E, 0xB0)
WHITE = (0xFF, 0xFF, 0xFF)


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    """Returns whether (x, y) lies in the rectangle with corners rounded by radius."""
    if x < left or x > right or y < top or y > bottom:
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def in_microphone(x, y, stroke):
    """Returns whether (x, y), in units of the icon's side, lies on the microphone."""
    # The capsule, the U-shaped holder around its lower half, the stem and the foot.
    if in_rounded_rect(x, y, 0.38, 0.13, 0.62, 0.58, 0.12):
        return True
    distance = math.hypot(x - 0.5, y - 0.44)
    if y >= 0.44 and abs(distance - 0.20) <= stroke / 2:
        return True
    if abs(x - 0.5) <= stroke / 2 and 0.63 <= y <= 0.80:
        return True
    return in_rounded_rect(x, y, 0.34, 0.78, 0.66, 0.78 + stroke, stroke / 2)


def in_grille(x, y, size):
    """Returns whether (x, y) lies on one of the capsule's slots, drawn only where they can be seen."""
    if size < 48 or not 0.43 <= x <= 0.57:
        return False
    return any(abs(y - row) <= 0.012 for row in (0.26, 0.33, 0.40))


def render(size):
    """Returns size x size pixels, top row first, each (red, green, blue, alpha)."""
    # Strokes of at least about a pixel and a half, so the small images keep the holder and foot.
    stroke = max(0.065, 1.5 / size)
    pixels = []
    n = SUPERSAMPLES
    for row in range(size):
        for column in range(size):
            background = foreground = 0
            for sy in range(n):
                for sx in range(n):
                    x = (column + (sx + 0.5) / n) / size
                    y = (row + (sy + 0.5) / n) / size
                    if not in_rounded_rect(x, y, 0.02, 0.02, 0.98, 0.98, 0.2):
                        continue
                    background += 1
                    if in_microphone(x, y, stroke) and not in_grille(x, y, size):
                        foreground += 1
            shade = (row + 0.5) / size
            blue = [round(t + (b - t) * shade) for t, b in zip(TOP_BLUE, BOTTOM_BLUE)]
            if background == 0:
                pixels.append((0, 0, 0, 0))
                continue
            share = foreground / background
            colour = tuple(round(c + (w - c) * share) for c, w in zip(blue, WHITE))
            pixels.append(colour + (round(255 * background / (n * n)),))
    return pixels


def bitmap_image(size, pixels):
    """Returns an icon image as a bottom-up 32-bit DIB with its AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = bytearray()
    for row in reversed(range(size)):
        for r, g, b, a in pixels[row * size:(row + 1) * size]:
            colour += bytes((b, g, r, a))
    mask_stride = (size + 31) // 32 * 4
    mask = bytearray()
    for row in reversed(range(size)):
        bits = bytearray(mask_stride)
        for column in range(size):
            if pixels[row * size + column][3] == 0:
                bits[column // 8] |= 0x80 >> (column % 8)
        mask += bits
    return header + bytes(colour) + bytes(mask)


def png_chunk(kind, data):
    """Returns one PNG chunk with its length and CRC."""
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_image(size, pixels):
    """Returns an icon image as an RGBA PNG."""
    raw = bytearray()
    for row in range(size):
        raw.append(0)
        for pixel in pixels[row * size:(row + 1) * size]:
            raw += bytes(pixel)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + png_chunk(b"IEND", b""))


def icon_file(images):
    """Returns the .ico bytes for (size, image bytes) pairs."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = b""
    for size, data in images:
        side = 0 if size >= 256 else size  # 0 stands for 256
        entries += struct.pack("<BBBBHHII", side, side, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "app", "voxtrel.ico")
    images = []
    for size in SIZES:
        pixels = render(size)
        images.append((size, png_image(size, pixels) if size >= 256 else bitmap_image(size, pixels)))
    with open(output, "wb") as f:
        f.write(icon_file(images))
    print(f"wrote {output}")


if __name__ == "__main__":
    main()
