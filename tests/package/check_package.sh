#!/usr/bin/env bash
# The release package as a Windows user gets it: unpacked into a fresh folder, it holds every
# file it promises and SHA256SUMS matches them; voxtrel.exe carries the version and licence, needs
# only DLLs that every Windows has, and, started from that folder under Wine, records the sine
# source and exports the recording to MP3.
# Usage: check_package.sh ZIP VERSION DRIVER_EXE
set -uo pipefail
ZIP="$(realpath "$1")"
VERSION="$2"
DRIVER="$(realpath "$3")"
HERE="$(cd "$(dirname "$0")" && pwd)"
WORK="$(mktemp -d /tmp/voxtrel-unpacked.XXXXXX)"
NAME="voxtrel-$VERSION-win64"
source "$HERE/../e2e/common.sh"
cleanup() {
  stop_app
  rm -rf "$WORK"
}
trap cleanup EXIT

check "the zip unpacks" unzip -q "$ZIP" -d "$WORK"
PKG="$WORK/$NAME"
PROMISED=(
  voxtrel.exe README.txt LICENSE THIRD-PARTY-NOTICES.txt SHA256SUMS
  licenses/FFTW-COPYING.txt licenses/FFTW-COPYRIGHT.txt licenses/LAME-COPYING.txt
  licenses/GLFW-LICENSE.txt licenses/GLEW-LICENSE.txt licenses/mingw-w64-runtime-copyright.txt
  "source/voxtrel-$VERSION-src.tar.gz" source/BUILDING.txt
  source/fftw3_3.3.10.orig.tar.gz source/glfw3_3.3.8.orig.tar.gz source/glew_2.2.0.orig.tar.xz
  source/lame_3.100.orig.tar.gz
)
for f in "${PROMISED[@]}"; do check "holds $f" [ -s "$PKG/$f" ]; done
check "holds nothing else" [ "$(cd "$PKG" && find . -type f | wc -l)" -eq "${#PROMISED[@]}" ]
check "SHA256SUMS matches every file" bash -c "cd '$PKG' && sha256sum --quiet -c SHA256SUMS"
check "SHA256SUMS lists every file but itself" [ "$(wc -l <"$PKG/SHA256SUMS")" -eq $((${#PROMISED[@]} - 1)) ]
check "the licence is the GPL, version 2" grep -q 'GNU GENERAL PUBLIC LICENSE' "$PKG/LICENSE"
check "the README names the version and the licence" \
  bash -c "grep -q 'Voxtrel $VERSION' '$PKG/README.txt' && grep -q 'GNU General Public License, version 2' '$PKG/README.txt'"
check "the source archive is this version's" \
  bash -c "tar -xzOf '$PKG/source/voxtrel-$VERSION-src.tar.gz' voxtrel-$VERSION/VERSION | grep -qx '$VERSION'"
dlls="$(x86_64-w64-mingw32-objdump -p "$PKG/voxtrel.exe" | awk '/DLL Name/ {print tolower($3)}' | sort -u | tr '\n' ' ')"
unexpected="$(for d in $dlls; do
  case "$d" in
    advapi32.dll|comctl32.dll|comdlg32.dll|gdi32.dll|kernel32.dll|msvcrt.dll|ole32.dll|opengl32.dll|user32.dll|shell32.dll) ;;
    *) echo "$d" ;;
  esac
done)"
check "voxtrel.exe needs only system DLLs ($dlls)" [ -z "$unexpected" ]
mapfile -t info < <(drive version "$(winpath "$PKG/voxtrel.exe")")
check "voxtrel.exe names itself (${info[0]:-?})" [ "${info[0]:-}" = "Voxtrel" ]
check "its product version is $VERSION (${info[1]:-?})" [ "${info[1]:-}" = "$VERSION" ]
check "its file version is $VERSION.0 (${info[2]:-?})" [ "${info[2]:-}" = "$VERSION.0" ]
check "its copyright names the licence" bash -c "[[ '${info[3]:-}' == *'GNU General Public License, version 2 or later'* ]]"

# Run from the unpacked folder: one recording, one export.
(cd "$PKG" && exec wine ./voxtrel.exe) >/dev/null 2>&1 &
APP_PID=$!
check "the unpacked program shows its window" drive wait-window 30000
drive click 1
check "it takes a recording's name" drive save-dialog "$(winpath "$WORK/take.wav")"
check "it receives audio" wait_for_audio "$WORK/take.wav" 0.5
drive click 2
check "it records" drive wait-status "Saved to: $(winpath "$WORK/take.wav")" 15000
check "the recording holds the sine source" \
  python3 "$HERE/../e2e/check_audio.py" "$WORK/take.wav" --whole --rate 48000 --channels 1 --min-seconds 0.5 --freq 440
drive click 10
check "it takes an export's name" drive save-dialog "$(winpath "$WORK/take.mp3")"
check "it makes the MP3" wait_for_bytes "$WORK/take.mp3" 1
lame --quiet --decode "$WORK/take.mp3" "$WORK/decoded.wav" >/dev/null 2>&1
check "the export decodes to the recording" \
  python3 "$HERE/../e2e/check_audio.py" "$WORK/decoded.wav" --rate 48000 --channels 1 --min-seconds 0.5 --freq 440
close_app "it"

finish package
