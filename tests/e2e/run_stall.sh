#!/usr/bin/env bash
# A disk that stalls in the middle of a recording, for the real Voxtrel under Wine: every write
# to the recording is held up for 10 s (a preloaded library, stall_write.c) while a PulseAudio
# pipe source is fed a known signal. Every fed frame must reach the file, in order, and the status
# says "Saved to:" only once the file is complete, also when Stop comes during a stall.
# Usage: run_stall.sh VOXTREL_EXE DRIVER_EXE
set -uo pipefail
EXE="$(realpath "$1")"
DRIVER="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-stall.XXXXXX)"
source "$HERE/common.sh"
name="voxtrel_stall_$$"
previous="$(pactl get-default-source)"
module=""
feeder=""
cleanup() {
  rm -f "$WORK/stall"
  stop_app
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null && wait "$feeder" 2>/dev/null
  pactl set-default-source "$previous"
  [ -n "$module" ] && pactl unload-module "$module"
  rm -rf "$WORK"
}
trap cleanup EXIT

cc -shared -fPIC -o "$WORK/stall_write.so" "$HERE/stall_write.c" -ldl || { echo "cannot build the stall library" >&2; exit 1; }
# The module creates the FIFO itself: an existing file at that path makes it fail.
module="$(pactl load-module module-pipe-source source_name="$name" file="$WORK/feed" format=float32le \
  rate=44100 channels=2)" || { echo "cannot load module-pipe-source" >&2; exit 1; }
pactl set-default-source "$name"

# Waits until the file's size stays put for a second: the writer is inside a held write.
wait_until_held() {
  local before after
  for _ in $(seq 20); do
    before="$(stat -c %s "$1")"; sleep 1; after="$(stat -c %s "$1")"
    [ "$before" = "$after" ] && return 0
  done
  return 1
}

mkdir -p "$WORK/app"
(cd "$WORK/app" && exec env LD_PRELOAD="$WORK/stall_write.so" VOXTREL_STALL_NAME=take.wav \
  VOXTREL_STALL_FLAG="$WORK/stall" wine "$EXE") >/dev/null 2>&1 &
APP_PID=$!
check "main window appears" drive wait-window 30000
TAKE="$WORK/app/take.wav"
drive click 1
check "the record dialog accepts the path" drive save-dialog "$(winpath "$TAKE")"
# The feed starts once the recording has: a pipe source holds stale frames while nobody listens.
python3 "$HERE/../audio/pipe_feeder.py" "$WORK/feed" 60 &
feeder=$!
check "two seconds of the feed reach the file" wait_for_bytes "$TAKE" $((44 + 2 * 176400))

# A stall of ten seconds in the middle of the recording.
touch "$WORK/stall"
check "the disk stalls: the file stops growing" wait_until_held "$TAKE"
held_size="$(stat -c %s "$TAKE")"
sleep 10
check "the file did not grow while the disk stalled" [ "$(stat -c %s "$TAKE")" = "$held_size" ]
check "no status line claims a saved file meanwhile" bash -c '! wine "$0" wait-status Saved 10 >/dev/null 2>&1' "$DRIVER"
rm -f "$WORK/stall"
check "after the stall the file catches up" wait_for_bytes "$TAKE" $((held_size + 10 * 176400))
sleep 2

# A second stall, with Stop pressed during it: "Saved to:" only once the file is complete.
touch "$WORK/stall"
check "the disk stalls again" wait_until_held "$TAKE"
drive click 2
sleep 3
status="$(drive status)"
check "while the last writes wait, the status says the recording is finishing ($status)" \
  [ "$status" = "Finishing the recording: $(winpath "$TAKE")" ]
rm -f "$WORK/stall"
status="$(drive wait-status "Saved" 30000)"
check "once the disk answers, the status says saved, with no gap ($status)" [ "$status" = "Saved to: $(winpath "$TAKE")" ]
check "the file is a whole WAV" python3 "$HERE/check_audio.py" "$TAKE" --whole --rate 44100 --channels 2 --min-seconds 14
check "every fed frame is in the file, in order" python3 "$HERE/check_feed.py" "$TAKE" 14
close_app "the program"

finish stall
