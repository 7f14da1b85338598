#!/usr/bin/env bash
# Records a known signal through a PulseAudio pipe source: sets the source up as the default,
# feeds it at real-time pace, runs the Wine test program and restores the previous default.
# Usage: run_pipe_capture.sh TEST_EXE [FEED_SECONDS [GTEST_FILTER]]
set -u
exe="$1"
export VOXTREL_PIPE_SECONDS="${2:-20}"
filter="${3:-*}"
here="$(cd "$(dirname "$0")" && pwd)"
work="$(mktemp -d /tmp/voxtrel-pipe.XXXXXX)"
name="voxtrel_pipe_$$"
previous="$(pactl get-default-source)"
# The module creates the FIFO itself: an existing file at that path makes it fail.
module="$(pactl load-module module-pipe-source source_name="$name" file="$work/feed" format=float32le \
  rate=44100 channels=2)" || { echo "cannot load module-pipe-source" >&2; exit 1; }
feeder=""
cleanup() {
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null && wait "$feeder" 2>/dev/null
  pactl set-default-source "$previous"
  pactl unload-module "$module"
  rm -rf "$work"
}
trap cleanup EXIT
pactl set-default-source "$name"
python3 "$here/pipe_feeder.py" "$work/feed" "$VOXTREL_PIPE_SECONDS" &
feeder=$!
sleep 1
wine "$exe" --gtest_filter="$filter"
exit $?
