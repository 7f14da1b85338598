#!/usr/bin/env python3
"""Reads what the screen shows of the running program's display and says whether it is right.

Usage: screen_check.py CHECK ARGS...
  frame EXPECTED.ppm WAVEFORM.ppm      the waveform area holds, pixel for pixel, the frame that the
                                       program's drawing code makes of the same live state (read back
                                       from its own GL surface by tools/frame_snapshot)
  axes SCALE.txt SPECTROGRAM.ppm FREQUENCY_LABELS.ppm TIME_LABELS.ppm
                                       no analysis yet: the spectrogram shows its gridlines on their
                                       rows and nothing else, and both label strips carry text
  tone SCALE.txt SPECTROGRAM.ppm WAVEFORM.ppm HZ DB
                                       a steady tone: in the newest columns of the spectrogram its
                                       brightest rows centre on the tone's row within 2 px, at a
                                       colour that reads back to DB within 3 dB; the waveform's lower
                                       edge is flat (every column within 2 px); "-" for WAVEFORM skips it
  silence SCALE.txt SPECTROGRAM.ppm    digital silence: no cell of the newest columns above the floor
  clicks WAVEFORM.ppm ROW              one-sample clicks down to ROW (from the bottom) in silence:
                                       each shows at its full depth within 1 px, nothing else moves
  same BEFORE.ppm AFTER.ppm            the two pictures are equal (the display came back after a dialog)
  meter METER.ppm lit|clean            the clip indicator at the meter's right end is red or not;
                                       "clean" also wants the peak marker on the scale
SCALE.txt is what `frame_snapshot OUT scale RATE` writes: the drawing code's own rows and colours.
Exits 0 when the check holds, 1 otherwise, with a summary."""
import sys

GREEN = (0, 255, 0)
RED = (255, 0, 0)
CLIP_RED = (220, 0, 0)
PEAK_BLUE = (0, 70, 255)
NEWEST_COLUMNS = 40
DASH_PERIOD, DASH_ON = 8, 3
CLIP_BOX_WIDTH = 110


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


def read_scale(path):
    """Returns the drawing code's scale: tone rows by frequency, gridline rows, grid colour, colours by level."""
    scale = {"rows": {}, "gridrows": [], "colours": []}
    for line in open(path):
        words = line.split()
        if words[0] == "row":
            scale["rows"][float(words[1])] = int(words[2])
        elif words[0] == "gridrow":
            scale["gridrows"].append(int(words[1]))
        elif words[0] == "grid":
            scale["grid"] = tuple(int(w) for w in words[1:4])
        elif words[0] == "colour":
            scale["colours"].append((float(words[1]), tuple(int(w) for w in words[2:5])))
    scale["floor"] = scale["colours"][0][1]
    return scale


def level_of(colour, scale):
    """Returns the level whose colour is nearest to colour."""
    known = scale.setdefault("known", {})
    if colour not in known:
        known[colour] = min(scale["colours"], key=lambda c: sum((a - b) ** 2 for a, b in zip(c[1], colour)))[0]
    return known[colour]


def count(pixels, colour):
    """Returns how many pixels have the colour."""
    return sum(1 for p in pixels if p == colour)


def check_frame(expected_path, shot_path):
    """The waveform area equals the drawing code's own frame."""
    ew, eh, expected = read_ppm(expected_path)
    w, h, shot = read_ppm(shot_path)
    print(f"waveform area {w}x{h} with {count(shot, GREEN)} green and {count(shot, RED)} red pixels "
          f"(frame: {count(expected, GREEN)} and {count(expected, RED)})")
    if (w, h) != (ew, eh):
        return [f"waveform area is {w}x{h}, the frame {ew}x{eh}"]
    failures = []
    wrong = [i for i, (a, b) in enumerate(zip(expected, shot)) if a != b]
    if wrong:
        first = wrong[0]
        failures.append(f"{len(wrong)} of {len(shot)} pixels differ from the frame, the first at column "
                        f"{first % w}, row {first // w}: {shot[first]} for {expected[first]}")
    if count(expected, GREEN) == 0 or count(expected, RED) == 0:
        failures.append("the expected frame itself shows no green or no red trace")
    return failures


def check_axes(scale_path, spectrogram_path, frequency_path, time_path):
    """Gridlines on their rows over the floor colour, and text in both label strips."""
    scale = read_scale(scale_path)
    w, h, pixels = read_ppm(spectrogram_path)
    failures = []
    grid_rows = {h - 1 - r for r in scale["gridrows"]}
    others = sum(1 for p in pixels if p not in (scale["floor"], scale["grid"]))
    misplaced = sum(1 for i, p in enumerate(pixels) if p == scale["grid"] and i // w not in grid_rows)
    per_line = sum(1 for x in range(w) if x % DASH_PERIOD < DASH_ON)
    drawn = [sum(1 for x in range(w) if pixels[y * w + x] == scale["grid"]) for y in sorted(grid_rows)]
    print(f"spectrogram {w}x{h}: gridlines of {drawn} pixels (each {per_line}), {misplaced} grid pixels "
          f"elsewhere, {others} pixels neither floor nor grid")
    if others or misplaced or any(d != per_line for d in drawn) or not drawn:
        failures.append("the idle spectrogram is not its axes alone")
    for name, path in (("frequency", frequency_path), ("time", time_path)):
        _, _, strip = read_ppm(path)
        ink = sum(1 for p in strip if sum(p) < 3 * 128)
        print(f"{name} labels: {ink} dark pixels")
        if ink < 30:
            failures.append(f"the {name} labels show no text")
    return failures


def newest_columns(w):
    """Returns the newest columns of the spectrogram that no gridline dash crosses."""
    return [x for x in range(w - NEWEST_COLUMNS, w) if x % DASH_PERIOD >= DASH_ON]


def check_tone(scale_path, spectrogram_path, waveform_path, hz, db):
    """The tone on its row at its level; the waveform's lower edge flat."""
    scale = read_scale(scale_path)
    w, h, pixels = read_ppm(spectrogram_path)
    expected_row = scale["rows"][hz]
    failures, centres, peaks = [], [], []
    for x in newest_columns(w):
        levels = [level_of(pixels[(h - 1 - r) * w + x], scale) for r in range(h)]
        top = max(levels)
        peak = levels.index(top)
        low = high = peak
        while low > 0 and levels[low - 1] >= top - 1.0:
            low -= 1
        while high < h - 1 and levels[high + 1] >= top - 1.0:
            high += 1
        centres.append((low + high) / 2)
        peaks.append(top)
    print(f"{hz:g} Hz: brightest rows centred on {min(centres):g}..{max(centres):g} (its row {expected_row}), "
          f"levels {min(peaks):g}..{max(peaks):g} dBFS (fed {db:g})")
    if any(abs(c - expected_row) > 2 for c in centres):
        failures.append(f"the {hz:g} Hz tone is not on its row within 2 px")
    if any(abs(p - db) > 3 for p in peaks):
        failures.append(f"the {hz:g} Hz tone's colour does not read back to {db:g} dBFS within 3 dB")
    if waveform_path == "-":
        return failures
    ww, wh, wave = read_ppm(waveform_path)
    bottoms = []
    for x in range(ww):
        rows = [wh - 1 - y for y in range(wh) if wave[y * ww + x] == GREEN and wh - 1 - y < wh // 2]
        bottoms.append(min(rows) if rows else None)
    known = sorted(b for b in bottoms if b is not None)
    median = known[len(known) // 2] if known else None
    off = sum(1 for b in bottoms if b is None or abs(b - median) > 2)
    print(f"waveform: lower edge at row {median}, {off} of {ww} columns off it by more than 2 px")
    if off:
        failures.append("the steady tone's waveform is not a flat band")
    return failures


def check_silence(scale_path, spectrogram_path):
    """Nothing above the floor in the newest columns."""
    scale = read_scale(scale_path)
    w, h, pixels = read_ppm(spectrogram_path)
    lit = sum(1 for x in newest_columns(w) for y in range(h) if pixels[y * w + x] != scale["floor"])
    print(f"silence: {lit} cells of the newest columns above the floor")
    return ["digital silence draws cells above the floor"] if lit else []


def check_clicks(waveform_path, row):
    """Each click reaches its row within 1 px; every other column stays on the centre line."""
    w, h, wave = read_ppm(waveform_path)
    bottoms = []
    for x in range(w):
        rows = [h - 1 - y for y in range(h) if wave[y * w + x] == GREEN and h - 1 - y < h // 2]
        bottoms.append(min(rows) if rows else h // 2)
    clicks = [b for b in bottoms if b < h // 2 - 2]
    print(f"clicks: {len(clicks)} columns reach down to rows {sorted(set(clicks))} (each click: {row})")
    failures = []
    if len(clicks) < 4:
        failures.append("fewer than four of the clicks in the history show")
    if any(abs(b - row) > 1 for b in clicks):
        failures.append(f"a click is not drawn at its full depth, row {row} within 1 px")
    return failures


def check_same(before_path, after_path):
    """The same picture before and after."""
    _, _, before = read_ppm(before_path)
    _, _, after = read_ppm(after_path)
    differ = sum(1 for a, b in zip(before, after) if a != b) + abs(len(before) - len(after))
    print(f"{differ} of {len(before)} pixels differ from the picture before")
    return ["the picture did not come back"] if differ else []


def check_meter(meter_path, state):
    """The clip indicator lit or not; a clean input also shows the peak marker."""
    w, h, pixels = read_ppm(meter_path)
    box = [pixels[y * w + x] for y in range(h) for x in range(w - CLIP_BOX_WIDTH, w)]
    red = count(box, CLIP_RED)
    blue = count(pixels, PEAK_BLUE)
    print(f"meter: {red} red pixels in the clip indicator, {blue} pixels of the peak marker")
    if state == "lit":
        return [] if red > len(box) // 2 else ["the clip indicator is not lit"]
    failures = [] if red == 0 else ["the clip indicator is lit for a clean input"]
    if blue < 3 * 10:
        failures.append("the peak marker does not show")
    return failures


def main():
    check, args = sys.argv[1], sys.argv[2:]
    if check == "frame":
        failures = check_frame(*args)
    elif check == "axes":
        failures = check_axes(*args)
    elif check == "tone":
        failures = check_tone(args[0], args[1], args[2], float(args[3]), float(args[4]))
    elif check == "silence":
        failures = check_silence(*args)
    elif check == "clicks":
        failures = check_clicks(args[0], int(args[1]))
    elif check == "same":
        failures = check_same(*args)
    elif check == "meter":
        failures = check_meter(*args)
    else:
        raise SystemExit(f"unknown check {check}")
    for failure in failures:
        print("  " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
