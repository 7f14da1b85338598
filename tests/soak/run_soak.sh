#!/usr/bin/env bash
# Records a known signal through a PulseAudio pipe source for SECONDS with the soak host and lets
# it check the WAV by content. With --hog, a busy loop holds the other core for the whole run.
# Usage: run_soak.sh HOST_EXE SECONDS [--hog]
set -u
exe="$1"
seconds="$2"
hog_wanted="${3:-}"
here="$(cd "$(dirname "$0")" && pwd)"
feeder_script="$here/../audio/pipe_feeder.py"
work="$(mktemp -d /tmp/voxtrel-soak.XXXXXX)"
name="voxtrel_soak_$$"
# The feed starts a second before the host and outlasts the recording's set-up and stop.
fed_seconds=$((seconds + 20))
previous="$(pactl get-default-source)"
# The module creates the FIFO itself: an existing file at that path makes it fail.
module="$(pactl load-module module-pipe-source source_name="$name" file="$work/feed" format=float32le \
  rate=44100 channels=2)" || { echo "cannot load module-pipe-source" >&2; exit 1; }
feeder=""
hog=""
cleanup() {
  [ -n "$hog" ] && kill "$hog" 2>/dev/null && wait "$hog" 2>/dev/null
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null && wait "$feeder" 2>/dev/null
  pactl set-default-source "$previous"
  pactl unload-module "$module"
  rm -rf "$work"
}
trap cleanup EXIT
pactl set-default-source "$name"
if [ "$hog_wanted" = "--hog" ]; then
  cores="$(nproc)"
  # NOTE: pinned to the last core, so the capture, Wine and PulseAudio keep the other one.
  taskset -c "$((cores - 1))" timeout "$((fed_seconds + 30))" sh -c 'while :; do :; done' &
  hog=$!
  echo "soak: CPU hog pid $hog on core $((cores - 1)) of $cores"
fi
python3 "$feeder_script" "$work/feed" "$fed_seconds" &
feeder=$!
sleep 1
wine "$exe" "$(winepath -w "$work/soak.wav" 2>/dev/null)" "$seconds" "$fed_seconds" | tr -d '\r'
exit "${PIPESTATUS[0]}"
