#!/usr/bin/env bash
# What the real Voxtrel tells its user when a recording or an export cannot be made, driven
# through its windows under Wine: no capture device, a file another program holds open, a disk
# that fills up while recording, an export onto the recording itself, and an export of a WAV file
# it cannot read.
# Usage: run_outcomes.sh VOXTREL_EXE DRIVER_EXE
set -uo pipefail
EXE="$(realpath "$1")"
DRIVER="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-outcomes.XXXXXX)"
source "$HERE/common.sh"
HOLDER=""
cleanup() {
  stop_app
  [ -n "$HOLDER" ] && kill "$HOLDER" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# Starts the program in its own folder of WORK, with the environment given before the command.
start_app() {
  mkdir -p "$WORK/$1"
  (cd "$WORK/$1" && exec env "${@:2}" wine "$EXE") >/dev/null 2>&1 &
  APP_PID=$!
  check "$1: main window appears" drive wait-window 30000
}

# Starts a recording into a path through the dialog.
record_to() {
  drive click 1
  check "$1: the record dialog accepts the path" drive save-dialog "$(winpath "$2")"
}

# No capture device: no PulseAudio server for the program to reach.
start_app no-device PULSE_SERVER=unix:/nonexistent
record_to no-device "$WORK/no-device/take.wav"
status="$(drive wait-status "Nothing recorded" 20000)"
check "no-device: the status says so ($status)" \
  [ "$status" = "Nothing recorded: no audio capture device was found. No file was created." ]
check "no-device: no file exists" [ ! -e "$WORK/no-device/take.wav" ]
close_app "no-device: the program"

# A file that another program holds open: the dialog asks whether to replace it, and the
# recording then cannot open it.
start_app in-use
HELD="$WORK/in-use/held.wav"
wine "$DRIVER" hold-file "$(winpath "$HELD")" 60000 >"$WORK/holder.txt" 2>/dev/null &
HOLDER=$!
for _ in $(seq 100); do grep -q holding "$WORK/holder.txt" 2>/dev/null && break; sleep 0.1; done
record_to in-use "$HELD"
check "in-use: the dialog asks to replace the existing file" drive answer-box 6 15000
status="$(drive wait-status "Nothing recorded" 20000)"
check "in-use: the status says the file could not be opened ($status)" \
  [ "$status" = "Nothing recorded: the file could not be opened for writing: $(winpath "$HELD")" ]
check "in-use: the held file is untouched" [ "$(stat -c %s "$HELD")" -eq 0 ]
kill "$HOLDER" 2>/dev/null; wait "$HOLDER" 2>/dev/null; HOLDER=""
close_app "in-use: the program"

# A disk that fills up: the program may write at most 256 KiB into any file, about 2.7 s of the
# 48000 Hz mono sine source. The recording stops by itself and says what it kept.
mkdir -p "$WORK/full-disk"
(cd "$WORK/full-disk" && trap '' XFSZ && ulimit -f 256 && exec wine "$EXE") >/dev/null 2>&1 &
APP_PID=$!
check "full-disk: main window appears" drive wait-window 30000
record_to full-disk "$WORK/full-disk/full.wav"
status="$(drive wait-status "Recording stopped early" 60000)"
check "full-disk: the status says writing failed and what was kept ($status)" \
  bash -c '[[ "$0" =~ ^"Recording stopped early: writing to the file failed. "[0-9.]+" s of audio kept in: "(.*)$ ]] && [ "${BASH_REMATCH[1]}" = "$1" ]' \
  "$status" "$(winpath "$WORK/full-disk/full.wav")"
check "full-disk: the file is a whole WAV of what it kept" \
  python3 "$HERE/check_audio.py" "$WORK/full-disk/full.wav" --whole --rate 48000 --channels 1 --min-seconds 2 --freq 440
check "full-disk: a start after it is accepted again" drive click 1
check "full-disk: the dialog opens" drive cancel-dialog 10000
close_app "full-disk: the program"

# An export onto the recording itself, by another spelling or through a hard link, is refused
# with one message, and the recording stays as it was.
start_app onto
TAKE="$WORK/onto/take.wav"
record_to onto "$TAKE"
check "onto: audio reaches the recording" wait_for_audio "$TAKE" 1
drive click 2
status="$(drive wait-status "Saved" 30000)"
check "onto: the recording is saved ($status)" [ "$status" = "Saved to: $(winpath "$TAKE")" ]
cp "$TAKE" "$WORK/take-before.wav"
ln "$TAKE" "$WORK/onto/link.wav"
for target in "$WORK/onto/TAKE.WAV" "$WORK/onto/link.wav"; do
  name="$(basename "$target")"
  drive click 10
  check "onto $name: the export dialog accepts the name" drive save-dialog "$(winpath "$target")"
  check "onto $name: the dialog asks to replace the existing file" drive answer-box 6 15000
  box="$(drive message-box 15000)"
  check "onto $name: the export refuses with its message ($box)" \
    [ "$box" = "The MP3 file chosen is the recording itself. Choose another name: the recording was left unchanged." ]
  check "onto $name: no second message follows" bash -c '! wine "$0" message-box 2000 >/dev/null 2>&1' "$DRIVER"
  check "onto $name: the recording is untouched" cmp -s "$TAKE" "$WORK/take-before.wav"
done
check "onto: nothing else is left in the folder" [ "$(ls -A "$WORK/onto" | sort | tr '\n' ' ')" = "link.wav take.wav " ]
close_app "onto: the program"

# An export before any recording reads output.wav from the current folder; a 32-bit float WAV
# there is refused, not encoded as noise.
# NOTE: the save dialog makes the folder it shows the current one, and it opens in the folder
# last used, so the user's way is taken: first into the folder, then the name.
mkdir -p "$WORK/float"
python3 - "$WORK/float/output.wav" <<'PY'
import math, struct, sys
rate, frames = 48000, 48000
data = b"".join(struct.pack("<ff", 0.5 * math.sin(i / 10.0), 0.5 * math.sin(i / 10.0)) for i in range(frames))
header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 3, 2, rate, rate * 8, 8, 32)
open(sys.argv[1], "wb").write(header + b"data" + struct.pack("<I", len(data)) + data)
PY
start_app float
drive click 10
check "float: the export dialog goes to the folder" drive dialog-folder "$(winpath "$WORK/float")"
check "float: the export dialog accepts a path" drive save-dialog "$(winpath "$WORK/float/float.mp3")"
box="$(drive message-box 15000)"
check "float: the export says it cannot read the file ($box)" [ "$box" = "Invalid WAV file format." ]
check "float: no MP3 and nothing else is left" [ "$(ls -A "$WORK/float")" = "output.wav" ]
close_app "float: the program"

finish outcomes
