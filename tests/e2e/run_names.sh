#!/usr/bin/env bash
# Every file under exactly the name the user chose, driven through the real Voxtrel's save dialog
# under Wine: names with accented letters, CJK and a character outside the Basic Multilingual
# Plane, and paths of 250 and 259 characters, the longest the dialog takes, for recordings and
# their exports; and a failed export with such a name leaves nothing behind.
# Usage: run_names.sh VOXTREL_EXE DRIVER_EXE
set -uo pipefail
EXE="$(realpath "$1")"
DRIVER="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-names.XXXXXX)"
source "$HERE/common.sh"
cleanup() {
  stop_app
  rm -rf "$WORK"
}
trap cleanup EXIT

# Prints a Linux path in FOLDER whose Windows form is exactly LENGTH characters, ending in SUFFIX.
path_of_length() {
  local folder="$1" length="$2" suffix="$3" prefix
  prefix="$(winpath "$folder")\\"
  printf '%s/%s%s' "$folder" "$(head -c $((length - ${#prefix} - ${#suffix})) /dev/zero | tr '\0' 'n')" "$suffix"
}

# Records about two seconds into WAV, exports it to MP3, and checks both by name and content.
record_and_export() {
  local what="$1" wav="$2" mp3="$3"
  drive click 1
  check "$what: the record dialog takes the name" drive save-dialog "$(winpath "$wav")"
  check "$what: the recording receives half a second" wait_for_audio "$wav" 0.5
  drive click 2
  local status
  status="$(drive wait-status "Saved to: " 15000)"
  check "$what: the status names the file" [ "$status" = "Saved to: $(winpath "$wav")" ]
  check "$what: the recording exists under exactly that name" [ -f "$wav" ]
  check "$what: the recording holds the sine" \
    python3 "$HERE/check_audio.py" "$wav" --whole --rate 48000 --channels 1 --min-seconds 0.5 --freq 440
  drive click 10
  check "$what: the export dialog takes the name" drive save-dialog "$(winpath "$mp3")"
  check "$what: the MP3 appears under exactly that name" wait_for_bytes "$mp3" 1
  rm -f "$WORK/decoded.wav"
  lame --quiet --decode "$mp3" "$WORK/decoded.wav" >/dev/null 2>&1
  check "$what: the MP3 decodes to the recording" \
    python3 "$HERE/check_audio.py" "$WORK/decoded.wav" --rate 48000 --channels 1 --min-seconds 0.5 --freq 440
}

# Checks that a folder holds exactly the given names.
expect_entries() {
  local what="$1" folder="$2"
  shift 2
  local expected actual
  expected="$(printf '%s\n' "$@" | LC_ALL=C sort)"
  actual="$(ls -A "$folder" | LC_ALL=C sort)"
  check "$what" [ "$actual" = "$expected" ]
  [ "$actual" = "$expected" ] || { echo "  expected: $expected"; echo "  found:    $actual"; }
}

mkdir -p "$WORK/names" "$WORK/long"
(cd "$WORK" && exec wine "$EXE") >/dev/null 2>&1 &
APP_PID=$!
check "main window appears" drive wait-window 30000

record_and_export "accents and CJK" "$WORK/names/Aufnahme für Müller.wav" "$WORK/names/録音テスト.mp3"
record_and_export "beyond the BMP" "$WORK/names/🎙 Probe ✓.wav" "$WORK/names/🎙 Probe.mp3"
expect_entries "the names folder holds exactly the four files" "$WORK/names" \
  "Aufnahme für Müller.wav" "録音テスト.mp3" "🎙 Probe ✓.wav" "🎙 Probe.mp3"

WAV250="$(path_of_length "$WORK/long" 250 .wav)"
MP3250="$(path_of_length "$WORK/long" 250 .mp3)"
WAV259="$(path_of_length "$WORK/long" 259 .WAV)"
MP3259="$(path_of_length "$WORK/long" 259 .MP3)"
record_and_export "250 characters" "$WAV250" "$MP3250"
record_and_export "259 characters" "$WAV259" "$MP3259"
expect_entries "the long-names folder holds exactly the four files" "$WORK/long" \
  "$(basename "$WAV250")" "$(basename "$MP3250")" "$(basename "$WAV259")" "$(basename "$MP3259")"
close_app

# A failed export with the longest name: the program may write at most 64 KiB into any file, and
# the MP3 of ten seconds of output.wav (there before any recording) is larger.
mkdir -p "$WORK/full"
python3 - "$WORK/full/output.wav" <<'PY'
import math, struct, sys
rate, frames = 48000, 480000
data = b"".join(struct.pack("<hh", int(16000 * math.sin(i / 10.0)), int(16000 * math.sin(i / 7.0))) for i in range(frames))
header = b"RIFF" + struct.pack("<I", 36 + len(data)) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 2, rate, rate * 4, 4, 16)
open(sys.argv[1], "wb").write(header + b"data" + struct.pack("<I", len(data)) + data)
PY
(cd "$WORK/full" && trap '' XFSZ && ulimit -f 64 && exec wine "$EXE") >/dev/null 2>&1 &
APP_PID=$!
check "full: main window appears" drive wait-window 30000
drive click 10
# NOTE: the save dialog makes the folder it shows the current one and opens in the folder last
# used, so first into the folder where output.wav is, then the name.
check "full: the export dialog goes to the folder" drive dialog-folder "$(winpath "$WORK/full")"
check "full: the export dialog takes the longest name" drive save-dialog "$(winpath "$(path_of_length "$WORK/full" 259 .mp3)")"
box="$(drive message-box 30000)"
check "full: the export says writing failed ($box)" [ "$box" = "Failed to write MP3 output file." ]
expect_entries "full: nothing is left behind under any name" "$WORK/full" output.wav
close_app

finish names
