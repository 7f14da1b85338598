#!/usr/bin/env bash
# Runs the real Voxtrel under Wine and drives it only through its windows: recording from the
# test PulseAudio server's sine source, exporting, refused and cancelled starts, closing while
# recording (one close ends the program), and the diagnostic lines on the debug-output channel.
set -uo pipefail
EXE="$1"
DRIVER="$2"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-e2e.XXXXXX)"
source "$HERE/common.sh"
cleanup() {
  stop_app
  rm -rf "$WORK"
}
trap cleanup EXIT

cd "$WORK"
WINEDEBUG=+debugstr wine "$EXE" 2>"$WORK/debug.log" &
APP_PID=$!
check "main window appears" drive wait-window 30000

# Export before any recording reads output.wav from the current folder, which is missing.
drive click 10
check "export dialog accepts a path" drive save-dialog "$(winpath "$WORK/early.mp3")"
box="$(drive message-box 15000)"
check "missing output.wav is reported" [ "$box" = "Failed to open WAV file for MP3 conversion." ]
check "no MP3 is left behind" [ ! -e "$WORK/early.mp3" ]

# A recording of at least eleven seconds from the sine source: long enough for the export to
# encode it in segments on every core.
TAKE="$WORK/take one.wav"
drive click 1
check "record dialog accepts a path" drive save-dialog "$(winpath "$TAKE")"
check "the recording receives audio" wait_for_audio "$TAKE" 0.1
drive click 1
check "a start while recording opens no dialog" drive expect-no-dialog 1500
check "the recording receives eleven seconds" wait_for_audio "$TAKE" 11
drive click 2
status="$(drive wait-status "Saved to: " 15000)"
check "status shows the saved path" [ "$status" = "Saved to: $(winpath "$TAKE")" ]
check "recording has the source's format, length and tone" \
  python3 "$HERE/check_audio.py" "$TAKE" --rate 48000 --channels 1 --min-seconds 11 --max-seconds 50 --freq 440 --rms 0.3535

# Export the recording and decode it on the Linux side with mpg123, which honours the VBR
# header's delay and padding: exactly the recording's samples come back.
MP3="$WORK/take one.mp3"
drive click 10
check "export dialog accepts the MP3 path" drive save-dialog "$(winpath "$MP3")"
check "the MP3 appears" wait_for_bytes "$MP3" 1
mpg123 --quiet -w "$WORK/decoded.wav" "$MP3" >/dev/null 2>&1
check "the MP3 decodes to the recording, sample for sample in length" \
  python3 "$HERE/check_audio.py" "$WORK/decoded.wav" --rate 48000 --channels 1 --min-seconds 11 --freq 440 \
  --length-of "$TAKE" --tolerance 0
check "no segment or partial file is left" [ -z "$(ls "$WORK" | grep '\.part$')" ]

# A cancelled start clears the traces and changes nothing else.
drive click 1
check "cancel the record dialog" drive cancel-dialog
sleep 0.3
check "status unchanged after a cancelled start" [ "$(drive status)" = "Saved to: $(winpath "$TAKE")" ]

# One close while recording: the file is finalised and the program then ends by itself, with exit
# code 0, with no second close.
SECOND="$WORK/second.wav"
drive click 1
check "second record dialog accepts a path" drive save-dialog "$(winpath "$SECOND")"
check "the second recording receives half a second" wait_for_audio "$SECOND" 0.5
drive close
wait_for_end "after one close during a recording, the program"
check "closing while recording finalises the file" \
  python3 "$HERE/check_audio.py" "$SECOND" --whole --rate 48000 --channels 1 --min-seconds 0.5 --freq 440

check "packet diagnostics on the debug channel" grep -q 'fftInputBuffer size = ' "$WORK/debug.log"
check "analysis diagnostics on the debug channel" grep -q 'MaxBin: ' "$WORK/debug.log"
check "processFFT diagnostics on the debug channel" grep -q 'processFFT called' "$WORK/debug.log"

finish e2e
