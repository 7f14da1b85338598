#!/usr/bin/env bash
# What the screen shows of the real Voxtrel under Wine: its window answers as soon as it appears
# (the GL surfaces are embedded without waiting for a window manager), and while it records a
# known signal, a screenshot of its waveform area holds the very frame that the program's own
# drawing code makes of that signal, and its spectrum area, which nothing draws into, is black.
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
# The input: 0.5 on both channels, which puts the waveform on one pixel row across the whole width.
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

# The known signal, from a pipe source made the default capture device.
MODULE="$(pactl load-module module-pipe-source source_name="voxtrel_screen_$$" file="$WORK/feed" \
  format=float32le rate=44100 channels=2)" || { echo "cannot load module-pipe-source"; exit 1; }
pactl set-default-source "voxtrel_screen_$$"
python3 "$HERE/../audio/pipe_feeder.py" "$WORK/feed" 120 "$LEVEL" &
FEEDER=$!

wine "$EXE" >/dev/null 2>&1 &
APP_PID=$!
check "main window appears" drive wait-window 30000
drive click 1
check "record dialog accepts a path" drive save-dialog "$(winpath "$WORK/screen.wav")"
check "the drawing code's own frame of the signal" wine "$SNAPSHOT" "$(winpath "$WORK/expected.ppm")" constant "$LEVEL"
waveform_area="$(drive rect 1101)"
spectrum_area="$(drive rect 1102)"

# The history fills within two seconds of audio; Wine's capture starts late and in bursts, so
# look again until the screen shows the frame, within a generous limit.
shown=1
[ -n "$waveform_area" ] && [ -n "$spectrum_area" ] && for _ in $(seq 120); do
  import -window root -depth 8 -crop "$waveform_area" "$WORK/waveform.ppm" &&
    import -window root -depth 8 -crop "$spectrum_area" "$WORK/spectrum.ppm" &&
    python3 "$HERE/screen_check.py" "$WORK/expected.ppm" "$WORK/waveform.ppm" "$WORK/spectrum.ppm" \
      >"$WORK/check.txt" && { shown=0; break; }
  sleep 0.5
done
[ -f "$WORK/check.txt" ] && cat "$WORK/check.txt"
check "the screen shows the frame in the waveform area and black in the spectrum area" [ "$shown" -eq 0 ]
if [ "$shown" -ne 0 ]; then
  mkdir -p "${VOXTREL_TEST_ARTIFACTS:-/tmp}" &&
    cp "$WORK/waveform.ppm" "$WORK/expected.ppm" "$WORK/spectrum.ppm" "${VOXTREL_TEST_ARTIFACTS:-/tmp}/" &&
    echo "pictures kept in ${VOXTREL_TEST_ARTIFACTS:-/tmp}"
fi

drive click 2
check "the recording ends" drive wait-status "Saved to: " 15000
close_app

finish screen
