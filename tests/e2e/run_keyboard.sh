#!/usr/bin/env bash
# The real Voxtrel worked by real key events alone (xdotool, with openbox as the window manager,
# started here and stopped at the end; the test runs alone on the display): Tab and Shift+Tab go
# round the three buttons in order, Space and Enter press the focused one, Esc closes the save
# dialog and the focus comes back to the button that had it, Esc in the main window does not stop
# a recording, Alt+F4 closes. And what Wine can show of the embedding of the GL surfaces: every
# window of the program has one DPI awareness, each surface lies inside its host, and the
# manifest declares the awareness that Windows reads.
# Usage: run_keyboard.sh VOXTREL_EXE DRIVER_EXE
set -uo pipefail
EXE="$(realpath "$1")"
DRIVER="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-keyboard.XXXXXX)"
source "$HERE/common.sh"
WM_PID=""
cleanup() {
  stop_app
  [ -n "$WM_PID" ] && kill "$WM_PID" 2>/dev/null && wait "$WM_PID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

# Waits until the control with the given id has the keyboard focus (at most 5 s).
wait_focus() {
  local id
  for _ in $(seq 50); do
    id="$(drive focus)"
    [ "$id" = "$1" ] && return 0
    sleep 0.1
  done
  echo "  the focus is on $id, not on $1"
  return 1
}
key() { xdotool key --clearmodifiers "$@"; }

command -v openbox >/dev/null || { fail "openbox is installed (scripts/install-packages)"; finish keyboard; exit; }
openbox --sm-disable >/dev/null 2>&1 &
WM_PID=$!
# Succeeds once openbox manages the display: the root window names its check window, and that
# window exists (a window manager stopped earlier leaves the property behind).
wm_ready() {
  local id
  id="$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | awk '/window id/ {print $NF}')"
  [ -n "$id" ] && xprop -id "$id" _NET_WM_NAME 2>/dev/null | grep -q Openbox
}
for _ in $(seq 100); do wm_ready && break; sleep 0.1; done
check "the window manager runs" wm_ready

(cd "$WORK" && exec wine "$EXE") >/dev/null 2>&1 &
APP_PID=$!
check "main window appears" drive wait-window 30000
XID="$(xdotool search --sync --limit 1 --name '^Voxtrel with FFT$')"
timeout 10 xdotool windowactivate --sync "$XID"

# The embedding, as far as Wine shows it, once start-up has made both surfaces (the window
# appears before they exist).
for _ in $(seq 300); do
  embedding="$(drive embedding)"
  echo "$embedding" | grep -q ' missing$' || break
  sleep 0.1
done
echo "$embedding" | sed 's/^/  /'
check "both surfaces lie inside their hosts" [ "$(echo "$embedding" | grep -c ' embedded$')" -eq 2 ]
check "every window has the same DPI awareness" \
  [ "$(echo "$embedding" | awk '{print $(NF == 4 ? 3 : NF)}' | sort -u | wc -l)" -eq 1 ]
check "the manifest declares the program DPI unaware, for Windows before and after 1607" \
  [ "$(drive manifest "$(winpath "$EXE")" | grep dpiAware | tr '\n' ' ')" = "dpiAware false dpiAwareness unaware " ]

# Tab and Shift+Tab go round the buttons in creation order.
check "the focus starts on Start Recording" wait_focus 1
for step in "Tab 2" "Tab 10" "Tab 1" "shift+Tab 10" "shift+Tab 2" "shift+Tab 1"; do
  set -- $step
  key "$1"
  check "$1 moves the focus to control $2" wait_focus "$2"
done

# Space on Start Recording opens the save dialog, Esc closes it, and the focus comes back.
key space
check "Space on Start Recording opens the save dialog" drive wait-dialog 10000
key Escape
check "Esc closes the save dialog" drive wait-no-dialog 10000
check "the focus comes back to Start Recording" wait_focus 1
check "the cancelled start changes no status" [ "$(drive status)" = "Ready" ]

# Enter presses the focused button, not Start Recording: Export MP3's dialog, and back to it.
key Tab Tab
check "two Tabs reach Export MP3" wait_focus 10
key Return
check "Enter on Export MP3 opens its save dialog" drive wait-dialog 10000
key Escape
check "Esc closes the export dialog" drive wait-no-dialog 10000
check "the focus comes back to Export MP3" wait_focus 10

# A recording started and stopped from the keyboard; Esc in between does not stop it.
TAKE="$WORK/keys.wav"
key Tab
check "Tab reaches Start Recording again" wait_focus 1
key space
check "the record dialog takes the name" drive save-dialog "$(winpath "$TAKE")"
check "the recording receives half a second" wait_for_audio "$TAKE" 0.5
check "the focus is back on Start Recording while recording" wait_focus 1
key Escape
check "the recording goes on past a second and a half after Esc" wait_for_audio "$TAKE" 1.5
status="$(drive status)"
check "Esc in the main window did not stop the recording ($status)" [ "${status#Saved to: }" = "$status" ]
key Tab
check "Tab reaches Stop" wait_focus 2
key Return
status="$(drive wait-status "Saved to: " 15000)"
check "Enter on Stop ends the recording ($status)" [ "$status" = "Saved to: $(winpath "$TAKE")" ]
check "the recording is whole and holds the sine" \
  python3 "$HERE/check_audio.py" "$TAKE" --whole --rate 48000 --channels 1 --min-seconds 1.5 --freq 440

key alt+F4
wait_for_end "after Alt+F4, the program"

finish keyboard
