#!/usr/bin/env bash
# Capture devices of every shape through the real Voxtrel under Wine, driven through its windows:
# mono at 8000 and 96000 Hz, stereo at 44100 Hz, 4 channels at 48000 Hz and 8 channels at
# 96000 Hz, each a PulseAudio pipe source with its own pitch on every channel. Each recording
# holds every channel, the live analysis follows the first channel, the status says where a
# running recording goes, and the export makes an MP3 of the recording's length with the first
# channel on the left and the second on the right. A device that delivers nothing is told apart
# from a saved recording.
# Usage: run_devices.sh VOXTREL_EXE DRIVER_EXE
set -uo pipefail
EXE="$(realpath "$1")"
DRIVER="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-devices.XXXXXX)"
source "$HERE/common.sh"
FEEDER=""
MODULE=""
PREVIOUS_SOURCE="$(pactl get-default-source)"
cleanup() {
  stop_app
  stop_device
  pactl set-default-source "$PREVIOUS_SOURCE"
  rm -rf "$WORK"
}
trap cleanup EXIT

# Channel maps PulseAudio's pipe source is given, so Wine delivers the channels in this order.
channel_map() {
  case "$1" in
    1) echo mono ;;
    2) echo front-left,front-right ;;
    4) echo front-left,front-right,rear-left,rear-right ;;
    8) echo front-left,front-right,rear-left,rear-right,front-center,lfe,side-left,side-right ;;
  esac
}

# Makes a pipe source of RATE and CHANNELS the default capture device; nothing feeds it yet.
# NOTE: PulseAudio's pipe source aborts the server for frame sizes that do not divide 4096 bytes,
# so only 1, 2, 4 or 8 float channels are used.
start_device() {
  local name="voxtrel_devices_$$_$1_$2"
  MODULE="$(pactl load-module module-pipe-source source_name="$name" file="$WORK/feed-$1-$2" \
    format=float32le rate="$1" channels="$2" channel_map="$(channel_map "$2")")" || return 1
  pactl set-default-source "$name"
}

stop_device() {
  [ -n "$FEEDER" ] && kill "$FEEDER" 2>/dev/null && wait "$FEEDER" 2>/dev/null
  FEEDER=""
  [ -n "$MODULE" ] && pactl unload-module "$MODULE" 2>/dev/null
  MODULE=""
}

# Prints the frequencies of the analyses of a debug log that found a signal, one a line.
analysed_frequencies() {
  sed -n 's/.*\[FFT\] MaxBin: [0-9]*, Freq: \([0-9.]*\) Hz, Mag: \([0-9.]*\).*/\1 \2/p' "$1" |
    awk '$2 > 0.01 {print $1}'
}

# Succeeds when at least 5 analyses found a signal and nine in ten of them found FREQ within two
# bins of an 8192-point transform at RATE.
analyses_follow() {
  analysed_frequencies "$1" | awk -v f="$2" -v rate="$3" '
    { n++; if ($1 >= f - 2 * rate / 8192 && $1 <= f + 2 * rate / 8192) near++ }
    END { printf "%d of %d analyses near %d Hz\n", near, n, f; exit !(n >= 5 && near >= 0.9 * n) }'
}

# Succeeds when no error box of the program shows within a second.
no_error_box() { ! drive message-box 1000 >/dev/null; }

# Records from a device of RATE and CHANNELS and exports the recording, checking each step.
record_device() {
  local rate="$1" channels="$2" what="$2 ch at $1 Hz"
  local dir="$WORK/$channels-$rate" wav mp3
  mkdir -p "$dir"
  wav="$dir/take.wav"
  mp3="$dir/take.mp3"
  check "$what: the pipe source loads" start_device "$rate" "$channels" || return
  (cd "$dir" && WINEDEBUG=+debugstr exec wine "$EXE") 2>"$dir/debug.log" >/dev/null &
  APP_PID=$!
  check "$what: main window appears" drive wait-window 30000
  drive click 1
  check "$what: the record dialog accepts the path" drive save-dialog "$(winpath "$wav")"
  local status
  status="$(drive wait-status "Recording to: " 20000)"
  check "$what: while recording the status names the file ($status)" [ "$status" = "Recording to: $(winpath "$wav")" ]
  # Fed only now: a pipe source keeps what was written before a stream was connected.
  python3 "$HERE/tone_feeder.py" "$WORK/feed-$rate-$channels" "$rate" "$channels" 60 &
  FEEDER=$!
  check "$what: the recording receives two seconds" \
    wait_for_bytes "$wav" "$((44 + 2 * rate * channels * 2))"
  check "$what: the status still says it records" [ "$(drive status)" = "Recording to: $(winpath "$wav")" ]
  drive click 2
  status="$(drive wait-status "Saved to: " 15000)"
  check "$what: the status shows the saved path ($status)" [ "$status" = "Saved to: $(winpath "$wav")" ]
  stop_device
  check "$what: the file is whole, in the device's format, with the first channel's tone" \
    python3 "$HERE/check_audio.py" "$wav" --whole --rate "$rate" --channels "$channels" --min-seconds 1.9 --freq 1000
  if [ "$channels" -ge 2 ]; then
    check "$what: the second channel is recorded as itself" \
      python3 "$HERE/check_audio.py" "$wav" --channel 1 --freq 1500
  fi
  check "$what: the analyses follow the first channel ($(analyses_follow "$dir/debug.log" 1000 "$rate"))" \
    analyses_follow "$dir/debug.log" 1000 "$rate"

  drive click 10
  check "$what: the export dialog accepts the path" drive save-dialog "$(winpath "$mp3")"
  check "$what: the MP3 appears" wait_for_bytes "$mp3" 1
  check "$what: the export shows no error" no_error_box
  lame --quiet --decode "$mp3" "$dir/decoded.wav" >/dev/null 2>&1
  local mp3_channels=$((channels >= 2 ? 2 : 1))
  check "$what: the MP3 has the recording's length and the first channel's tone on the left" \
    python3 "$HERE/check_audio.py" "$dir/decoded.wav" --channels "$mp3_channels" --length-of "$wav" \
    --tolerance 0.01 --freq 1000
  if [ "$channels" -ge 2 ]; then
    check "$what: the MP3 has the second channel's tone on the right" \
      python3 "$HERE/check_audio.py" "$dir/decoded.wav" --channel 1 --freq 1500
  fi
  close_app "$what: the program"
}

record_device 8000 1
record_device 96000 1
record_device 44100 2
record_device 48000 4
record_device 96000 8

# A device that delivers nothing: the recording's end says so, not "Saved to:".
silent="$WORK/silent"
mkdir -p "$silent"
check "silent: the pipe source loads" start_device 48000 2
(cd "$silent" && exec wine "$EXE") >/dev/null 2>&1 &
APP_PID=$!
check "silent: main window appears" drive wait-window 30000
drive click 1
check "silent: the record dialog accepts the path" drive save-dialog "$(winpath "$silent/none.wav")"
check "silent: the recording runs" drive wait-status "Recording to: " 20000
sleep 1
drive click 2
status="$(drive wait-status "Nothing recorded" 15000)"
check "silent: the status says no audio arrived ($status)" \
  [ "$status" = "Nothing recorded: no audio arrived from the capture device. The file holds no audio: $(winpath "$silent/none.wav")" ]
check "silent: the file is an empty WAV" [ "$(stat -c %s "$silent/none.wav")" -eq 44 ]
close_app "silent: the program"
stop_device

finish devices
