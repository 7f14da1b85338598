#!/usr/bin/env bash
# What the screen shows of the real Voxtrel under Wine: its window answers as soon as it appears
# (the GL surfaces are embedded without waiting for a window manager); before a recording the
# spectrogram shows its axes and labels; while it records a sequence of known signals, the
# waveform area holds the very frame that the program's own drawing code makes of a constant,
# tones of 100 Hz, 1 kHz and 10 kHz sit on their rows of the spectrogram at their level with a
# flat waveform band, silence stays dark, clicks show at their depth, and the meter's peak
# marker shows and its clip indicator lights with a clipping input only, and stays lit after; and
# the resting display comes back after a dialog covered it.
# Usage: run_screen.sh VOXTREL_EXE DRIVER_EXE FRAME_SNAPSHOT_EXE
set -uo pipefail
EXE="$(realpath "$1")"
DRIVER="$(realpath "$2")"
SNAPSHOT="$(realpath "$3")"
HERE="$(cd "$(dirname "$0")" && pwd)"
if [ -z "${VOXTREL_WINE_FIXED:-}" ]; then
  echo "SKIP: this Wine does not copy GL child windows to the screen (scripts/build-wine could not fix it)"
  exit 77
fi
WORK="$(mktemp -d /tmp/voxtrel-screen.XXXXXX)"
# The first input: 0.5 on both channels, which puts the waveform on one pixel row across the width.
LEVEL=0.5
source "$HERE/common.sh"
FEEDER=""
MODULE=""
PREVIOUS_SOURCE="$(pactl get-default-source)"
cleanup() {
  stop_app
  [ -n "$FEEDER" ] && kill "$FEEDER" 2>/dev/null && wait "$FEEDER" 2>/dev/null
  pactl set-default-source "$PREVIOUS_SOURCE"
  [ -n "$MODULE" ] && pactl unload-module "$MODULE"
  rm -rf "$WORK"
}
trap cleanup EXIT
cd "$WORK"

# The window answers at once: a close posted as soon as it is visible takes effect while start-up
# has nothing left to wait for. Wine names every wait for the window manager in its trace; the
# only one allowed is the main window's own, when the close hides it.
WINEDEBUG=fixme+event wine "$EXE" 2>"$WORK/start.log" &
APP_PID=$!
answer="$(drive answer-time 30000)"
check "the main window answers a close posted as it appears (after ${answer%% *} ms)" [ -n "$answer" ]
if [ -n "$answer" ]; then
  main_window=$((16#${answer##* }))
  surface_waits=0
  while read -r hwnd; do
    [ $((hwnd)) -ne "$main_window" ] && surface_waits=$((surface_waits + 1))
  done < <(grep -o 'wait_for_withdrawn_state window 0x[0-9a-f]*' "$WORK/start.log" | awk '{print $3}')
  check "start-up waits for no window manager ($surface_waits waits for other windows)" [ "$surface_waits" -eq 0 ]
fi
wait "$APP_PID"
APP_PID=""

# A known signal, from a pipe source made the default capture device; the test names what it
# feeds in a control file and waits for the screen to show it before it moves on.
MODULE="$(pactl load-module module-pipe-source source_name="voxtrel_screen_$$" file="$WORK/feed" \
  format=float32le rate=48000 channels=2 channel_map=front-left,front-right)" ||
  { echo "cannot load module-pipe-source"; exit 1; }
pactl set-default-source "voxtrel_screen_$$"
CONTROL="$WORK/signal"
echo "constant $LEVEL" >"$CONTROL"
python3 "$HERE/screen_feeder.py" "$WORK/feed" "$CONTROL" 300 &
FEEDER=$!

# Looks at the screen until a check of screen_check.py holds, within a generous limit (Wine's
# capture starts late and hands audio over in bursts); keeps the pictures of a check that failed.
#   look WHAT CHECK ARGS...  where the names waveform, spectrogram, meter, frequencies and times
#   in ARGS stand for fresh screenshots of those areas
look() {
  local what="$1" check="$2" shown=1 args arg
  shift 2
  for _ in $(seq 60); do
    args=()
    for arg in "$@"; do
      case "$arg" in
        waveform|spectrogram|meter|frequencies|times)
          import -window root -depth 8 -crop "${AREA[$arg]}" "$WORK/$arg.ppm" || continue 2
          args+=("$WORK/$arg.ppm") ;;
        *) args+=("$arg") ;;
      esac
    done
    python3 "$HERE/screen_check.py" "$check" "${args[@]}" >"$WORK/check.txt" && { shown=0; break; }
    sleep 0.5
  done
  cat "$WORK/check.txt"
  check "$what" [ "$shown" -eq 0 ]
  if [ "$shown" -ne 0 ]; then
    mkdir -p "${VOXTREL_TEST_ARTIFACTS:-/tmp}" && cp "$WORK"/*.ppm "${VOXTREL_TEST_ARTIFACTS:-/tmp}/" &&
      echo "pictures kept in ${VOXTREL_TEST_ARTIFACTS:-/tmp}"
  fi
}

wine "$EXE" >/dev/null 2>&1 &
APP_PID=$!
check "main window appears" drive wait-window 30000
check "the drawing code's own frame of the signal" wine "$SNAPSHOT" "$(winpath "$WORK/expected.ppm")" constant "$LEVEL"
check "the spectrogram's own scale" wine "$SNAPSHOT" "$(winpath "$WORK/scale.txt")" scale 48000
declare -A AREA=([waveform]="$(drive rect 1101)" [spectrogram]="$(drive rect 1102)" [meter]="$(drive rect 3)"
  [frequencies]="$(drive rect 1103)" [times]="$(drive rect 1104)")

# Before any recording: the spectrogram's axes and labels, not a black box.
look "before a recording the spectrogram shows its gridlines and labels" axes "$WORK/scale.txt" spectrogram \
  frequencies times

drive click 1
check "record dialog accepts a path" drive save-dialog "$(winpath "$WORK/screen.wav")"
look "the screen shows the drawing code's frame in the waveform area" frame "$WORK/expected.ppm" waveform
look "a clean input: the peak marker shows and the clip indicator is dark" meter meter clean
# A column of the waveform spans 1.2 ms, so a tone of 1 kHz and up fills each with a whole
# period: a flat band. At 100 Hz the waveform shows the sine's own shape, as it should.
for hz in 1000 100 10000; do
  echo "sine $hz 0.1" >"$CONTROL"
  if [ "$hz" -ge 1000 ]; then wave=waveform; else wave=-; fi
  look "a $hz Hz tone at -20 dBFS on its row at its level$([ "$wave" = waveform ] && echo ", its waveform a flat band")" tone "$WORK/scale.txt" spectrogram "$wave" \
    "$hz" -20
done
echo "silence" >"$CONTROL"
look "digital silence draws nothing above the floor" silence "$WORK/scale.txt" spectrogram
echo "clicks -0.9" >"$CONTROL"
look "one-sample clicks show at their full depth" clicks waveform 4
look "still clean: the clip indicator is dark" meter meter clean
echo "sine 1000 1.2" >"$CONTROL"
look "a clipping input lights the clip indicator" meter meter lit

drive click 2
check "the recording ends" drive wait-status "Saved to: " 15000
echo "silence" >"$CONTROL"
look "the clip indicator stays lit after the recording" meter meter lit

# The display rests now; a dialog over it and gone again, and the picture comes back.
sleep 3
for area in waveform spectrogram; do
  import -window root -depth 8 -crop "${AREA[$area]}" "$WORK/$area-before.ppm"
done
drive click 10
check "the export dialog covers the display" drive wait-dialog 10000
drive cancel-dialog
look "the waveform comes back after the dialog" same "$WORK/waveform-before.ppm" waveform
look "the spectrogram comes back after the dialog" same "$WORK/spectrogram-before.ppm" spectrogram
close_app

finish screen
