#!/usr/bin/env bash
# Configures the project with the machine's own compilers, as a native build on another platform
# would, and checks that it meets none of the pieces that only the mingw-w64 build under Wine can
# use: the -municode flag, Wine, bash scripts, PulseAudio's pactl.
# Usage: native_configure_check.sh SOURCE_DIR DEPENDENCY_PREFIX
set -uo pipefail
src="$1"
prefix="$2"
out="$(mktemp -d /tmp/voxtrel-native.XXXXXX)"
trap 'rm -rf "$out"' EXIT

if ! CC=gcc CXX=g++ cmake -S "$src" -B "$out" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >"$out/configure.log" 2>&1; then
  echo "FAIL: the native configure failed"
  tail -n 30 "$out/configure.log"
  exit 1
fi
generated=("$out/build.ninja")
while IFS= read -r -d '' f; do generated+=("$f"); done < <(find "$out" -name 'CTestTestfile.cmake' -print0)
[ -f "$out/tests/CTestTestfile.cmake" ] || { echo "FAIL: the native configure made no tests"; exit 1; }
status=0
for piece in -municode wine bash pactl; do
  if hits="$(grep -n -w -e "$piece" "${generated[@]}" | head -n 5)" && [ -n "$hits" ]; then
    echo "FAIL: the native build meets '$piece':"
    echo "$hits"
    status=1
  fi
done
registered="$(grep -c -e '^add_test' -e '_include.cmake' "$out/tests/CTestTestfile.cmake")"
[ "$registered" -gt 0 ] || { echo "FAIL: the native configure registered no test programs"; status=1; }
[ "$status" -eq 0 ] && echo "PASS: a native configure meets none of -municode, wine, bash, pactl ($registered test programs)"
exit "$status"
