#!/usr/bin/env bash
# What the real Voxtrel shows the user while it works, driven through its windows under Wine with
# one start of the program: the look (the message font on every control, buttons that hold their
# texts, the icon, the common controls of the visual styles), the recording line (time and size
# that track the file, the time left on a small disk counting down, with its warning; the final
# length and size after Stop) and the export line (a long export's bar moving, two exports at once
# both reaching "Exported to:", a failed export with its box and no "Exported to:").
# Where no tmpfs can be mounted, the recording goes to the ordinary disk, the warning is not
# checked and the script ends with 77 (skipped) unless something failed.
# Usage: run_readouts.sh VOXTREL_EXE DRIVER_EXE
set -uo pipefail
EXE="$(realpath "$1")"
DRIVER="$(realpath "$2")"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-readouts.XXXXXX)"
source "$HERE/common.sh"
SMALL="$WORK/small"
MOUNTED=""
POLLER=""
RATE=96000  # the test server's sine source: 48000 Hz mono, 16-bit
cleanup() {
  rm -f "$WORK/hold"
  [ -n "$POLLER" ] && kill "$POLLER" 2>/dev/null
  stop_app
  [ -n "$MOUNTED" ] && umount "$SMALL"
  rm -rf "$WORK"
}
trap cleanup EXIT

# Writes of the exports' partial files are held while $WORK/hold exists (stall_write.c), so that
# the second export starts while the first still runs however fast the machine encodes.
cc -shared -fPIC -o "$WORK/stall_write.so" "$HERE/stall_write.c" -ldl || { echo "cannot build the stall library" >&2; exit 1; }
(cd "$WORK" && exec env LD_PRELOAD="$WORK/stall_write.so" VOXTREL_STALL_NAME=.part VOXTREL_STALL_FLAG="$WORK/hold" \
  wine "$EXE") >/dev/null 2>&1 &
APP_PID=$!
check "main window appears" drive wait-window 30000

# The look: each text fits its control in the system's message font (that every control has it
# is checked inside the process by the unit tests: Wine answers no WM_GETFONT from another one).
drive text-fits >"$WORK/fits.txt"
cat "$WORK/fits.txt"
check "ten controls, each text within its control" \
  awk '{ n++ } $3 > 0 && ($2 < $3 + 8 || $4 < $5) { bad = 1 } END { exit bad || n < 10 }' "$WORK/fits.txt"
check "the program's icon group has 16, 32, 48 and 256 pixels" \
  [ "$(drive icon-group "$(winpath "$EXE")")" = "group 16 32 48 256" ]
# Wine hands the window's big and small icons to the window manager, as Windows to its taskbar.
icons="$(xprop -id "$(xdotool search --name '^Voxtrel with FFT$' | head -n1)" _NET_WM_ICON 2>&1 | grep -o 'Icon ([0-9]* x [0-9]*)')"
echo "$icons"
check "the window shows the program's icon, big and small" \
  [ "$(sort -u <<<"$icons" | tr '\n' ' ')" = "Icon (16 x 16) Icon (32 x 32) " ]
assemblies="$(drive manifest-assemblies "$(winpath "$EXE")")"
echo "$assemblies"
check "the manifest brings in the common controls, version 6" \
  grep -qi 'Microsoft.Windows.Common-Controls.*version="6\.' <<<"$assemblies"

# A recording onto a small disk: the line tracks the file and counts the disk down, with a warning.
mkdir -p "$SMALL"
short=--short
if mount -t tmpfs -o size=16m tmpfs "$SMALL" 2>/dev/null; then MOUNTED=1; else
  echo "cannot mount a small tmpfs here: recording to the ordinary disk, no warning expected"; short=""; fi
TAKE="$SMALL/take.wav"
drive click 1
check "record dialog accepts a path on the small disk" drive save-dialog "$(winpath "$TAKE")"
# Past the start, where Wine's capture hands over up to a second at once.
check "the recording receives audio" wait_for_audio "$TAKE" 1.5
check "time, size and time left track the file" \
  python3 "$HERE/check_readouts.py" readings "$DRIVER" "$TAKE" "$(winpath "$TAKE")" 8 "$RATE" $short
drive click 2
check "the recording is saved" drive wait-status "Saved to: " 15000
check "the final length and size stay" python3 "$HERE/check_readouts.py" final "$(drive readout 4 x | cut -f2)" "$TAKE" "$RATE"

# A long recording: a short one on the ordinary disk, then replaced by 8 minutes of stereo.
LONG="$WORK/long.wav"
drive click 1
check "record dialog accepts the long recording's path" drive save-dialog "$(winpath "$LONG")"
check "the long recording receives audio" wait_for_audio "$LONG" 0.2
drive click 2
check "the long recording is saved" drive wait-status "Saved to: " 15000
python3 - "$LONG" <<'EOF'
import math, struct, sys, wave
second = b"".join(struct.pack("<hh", int(8000 * math.sin(2 * math.pi * 440 * i / 48000)), 0) for i in range(48000))
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(2); w.setsampwidth(2); w.setframerate(48000)
    w.writeframes(second * 480)
EOF

# Two exports at once: the bar moves, and both reach "Exported to:" in the line.
: >"$WORK/exports.log"
(while :; do drive export-progress >>"$WORK/exports.log"; sleep 0.05; done) &
POLLER=$!
touch "$WORK/hold"
drive click 10
check "export dialog accepts the first MP3" drive save-dialog "$(winpath "$WORK/first.mp3")"
for _ in $(seq 200); do grep -q "	1	Exporting" "$WORK/exports.log" && break; sleep 0.1; done
drive click 10
check "export dialog accepts the second MP3" drive save-dialog "$(winpath "$WORK/second.mp3")"
for _ in $(seq 200); do grep -q "Exporting.*   Exporting" "$WORK/exports.log" && break; sleep 0.1; done
rm -f "$WORK/hold"
for _ in $(seq 1200); do [ "$(tail -n1 "$WORK/exports.log" | grep -o 'Exported to:' | wc -l)" -eq 2 ] && break; sleep 0.1; done
kill "$POLLER"; wait "$POLLER" 2>/dev/null; POLLER=""
drive export-progress >>"$WORK/exports.log"
check "the bar moves and both exports end in the line" \
  python3 "$HERE/check_readouts.py" exports "$WORK/exports.log" "$(winpath "$WORK/first.mp3")" \
  "$(winpath "$WORK/second.mp3")" "8:00"

# A failed export: its box, and no "Exported to:".
drive click 10
check "export dialog accepts the recording's own name" drive save-dialog "$(winpath "$LONG")"
check "the dialog asks to replace the existing file" drive answer-box 6 15000
box="$(drive message-box 15000)"
check "the failed export shows its box ($box)" \
  [ "$box" = "The MP3 file chosen is the recording itself. Choose another name: the recording was left unchanged." ]
progress="$(drive export-progress)"
echo "$progress"
check "the failed export says so, with no \"Exported to:\"" \
  [ "$(cut -f3 <<<"$progress")" = "Export failed: $(winpath "$LONG")" ]

close_app
if [ -z "$MOUNTED" ] && [ "$failures" -eq 0 ]; then echo "readouts: the small disk was skipped"; exit 77; fi
finish readouts
