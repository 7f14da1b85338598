# What the end-to-end scripts share: their bookkeeping of checks, the driver, Wine paths, the
# waits for audio and the end of the program. Sourced after DRIVER (the driver .exe) is set.
failures=0
APP_PID=""

pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Runs a check: check "what it shows" command [arguments...]
check() { local what="$1"; shift; if "$@"; then pass "$what"; else fail "$what"; fi; }
drive() { wine "$DRIVER" "$@" | tr -d '\r'; }  # the console's line ends are CRLF
winpath() { winepath -w "$1" 2>/dev/null; }

# Waits until a file holds at least BYTES bytes: Wine's capture starts late and in bursts, the
# later the busier the machine, so the scripts wait for audio, not for a time (at most 30 s).
wait_for_bytes() {
  for _ in $(seq 300); do [ "$(stat -c %s "$1" 2>/dev/null || echo 0)" -ge "$2" ] && return 0; sleep 0.1; done
  return 1
}

# Waits until a recording of the 48000 Hz mono sine source holds at least SECONDS of audio.
wait_for_audio() { wait_for_bytes "$1" "$(awk -v s="$2" 'BEGIN {printf "%d", 44 + s * 96000}')"; }

# Checks that the program started as APP_PID ends by itself within 20 s with exit code 0; ends it
# when it does not.
wait_for_end() {
  for _ in $(seq 200); do kill -0 "$APP_PID" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$APP_PID" 2>/dev/null && kill "$APP_PID"
  wait "$APP_PID"
  local rc=$?
  APP_PID=""
  check "${1:-the program} ends with exit code 0 (got $rc)" [ "$rc" -eq 0 ]
}

# Closes the program started as APP_PID and checks that it ends by itself with exit code 0.
close_app() {
  drive close
  wait_for_end "$@"
}

# Ends a program still running at the end of a script.
stop_app() { [ -n "$APP_PID" ] && kill "$APP_PID" 2>/dev/null; APP_PID=""; }

# Prints how many checks failed and returns non-zero when any did.
finish() {
  echo "$1: $failures failed"
  [ "$failures" -eq 0 ]
}
