#!/usr/bin/env python3
"""Checks the window's readout lines against the files they describe.

readings DRIVER FILE WINFILE COUNT RATE [--short]
    Reads the recording line COUNT times through the driver (each reading gives the file's size
    and the line at one moment) and the free space of the file's disk right after. Every reading:
    the time shown within 0.5 s of the audio in the file, the size within a rounding step and
    0.5 s of data of the file's, the time left within 5 % of the free space over the data rate;
    with --short, the disk warning. The time left must count down.
final LINE FILE RATE
    The line left after the recording: exactly the file's length (in tenths) and size.
exports LOG FIRST SECOND LENGTH
    The export bar and line polled into LOG ("position<TAB>shown<TAB>text" per line) while the
    export to FIRST ran and the one to SECOND was started: the bar moves and is shown whenever the
    line tells of an export, and the line ends with both exports' "Exported to:" and LENGTH.
"""
import os
import re
import subprocess
import sys
import time

MIB = 1024 * 1024
LINE = re.compile(r"^(\d+):(\d\d):(\d\d)\.(\d)   (\d+)\.(\d+) (MB|GB)(?:   (.*))?$")


def clock_seconds(match):
    h, m, s, tenths = (int(match.group(i)) for i in range(1, 5))
    return h * 3600 + m * 60 + s + tenths / 10


def shown_bytes(match):
    whole, fraction, unit = match.group(5), match.group(6), match.group(7)
    value = float(f"{whole}.{fraction}")
    return value * (MIB if unit == "MB" else MIB * 1024)


def left_seconds(text):
    """Returns the seconds the time-left part says, and whether it warns; None when unreadable."""
    warning = text.startswith("Disk almost full: only ")
    body = text[len("Disk almost full: only "):] if warning else text
    match = re.fullmatch(r"(?:(\d+) h )?(?:(\d+) min)? ?(?:(\d+) s)?(?: left on disk| left)", body)
    if not match or not any(match.groups()):
        return None, warning
    h, m, s = (int(g) if g else 0 for g in match.groups())
    return h * 3600 + m * 60 + s, warning


def readings(driver, path, winpath, count, rate, short):
    failures = []
    lefts = []
    for _ in range(count):
        out = subprocess.run(["wine", driver, "readout", "4", winpath], capture_output=True, text=True).stdout
        stat = os.statvfs(os.path.dirname(path))
        free = stat.f_bavail * stat.f_frsize
        size_text, _, line = out.strip("\r\n").partition("\t")
        size = int(size_text)
        match = LINE.match(line)
        print(f"size {size} free {free}: {line}")
        if not match or size < 44:
            failures.append(f"unreadable reading: {line!r} (size {size})")
            continue
        audio = (size - 44) / rate
        if abs(clock_seconds(match) - audio) > 0.5:
            failures.append(f"time {clock_seconds(match)} s against {audio:.2f} s in the file")
        if abs(shown_bytes(match) - size) > 0.1 * MIB + 0.5 * rate:
            failures.append(f"size {shown_bytes(match):.0f} against {size}")
        left, warning = left_seconds(match.group(8) or "")
        expected = free / rate
        if left is None or abs(left - expected) > 0.05 * expected + 1:
            failures.append(f"time left {left} s against {expected:.1f} s")
        else:
            lefts.append(left)
        if warning != short:
            failures.append(f"warning {warning}, expected {short}")
        time.sleep(0.6)
    if len(lefts) < 2 or not lefts[-1] < lefts[0]:
        failures.append(f"the time left did not count down: {lefts}")
    return failures


def clock_text(ms):
    seconds = ms // 1000
    return f"{seconds // 3600}:{seconds // 60 % 60:02d}:{seconds % 60:02d}.{ms // 100 % 10}"


def final(line, path, rate):
    size = os.path.getsize(path)
    ms = (size - 44) * 1000 // rate
    expected = f"{clock_text(ms)}   {size * 10 // MIB // 10}.{size * 10 // MIB % 10} MB"
    print(f"final: {line!r}, expected {expected!r}")
    return [] if line == expected else [f"final line {line!r}, expected {expected!r}"]


def exports(log, first, second, length):
    """The export line polled while the first export ran and the second was started during it."""
    failures = []
    rows = []
    with open(log, encoding="utf-8") as f:
        for row in f:
            position, shown, text = row.rstrip("\r\n").split("\t", 2)
            rows.append((int(position), shown == "1", text))
    running = [p for p, _, t in rows if t.startswith("Exporting ") and f": {first}" in t.split("   ")[-1]]
    moving = sorted({p for p in running if 0 < p < 1000})
    print(f"{len(rows)} polls; positions while the first ran: {moving}")
    if len(moving) < 2:
        failures.append("the bar did not move during the export")
    for position, shown, text in rows:
        parts = text.split("   ") if text else []
        for part in parts:
            match = re.fullmatch(r"Exporting (\d+) %: (.*)", part)
            if match and match.group(2) not in (first, second):
                failures.append(f"unexpected export part {part!r}")
        if parts and not shown:
            failures.append(f"the bar was hidden while the line read {text!r}")
    # The second started while the first ran; whichever ended last, both ends stay in the line.
    last = rows[-1] if rows else (0, False, "")
    print(f"last: {last}")
    if last[2] != f"Exported to: {second} ({length})   Exported to: {first} ({length})" or last[0] != 1000:
        failures.append(f"the line did not end with both exports: {last}")
    return failures


def main():
    mode = sys.argv[1]
    if mode == "readings":
        driver, path, winpath, count, rate = sys.argv[2:7]
        failures = readings(driver, path, winpath, int(count), int(rate), "--short" in sys.argv)
    elif mode == "final":
        failures = final(sys.argv[2], sys.argv[3], int(sys.argv[4]))
    else:
        failures = exports(*sys.argv[2:6])
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
