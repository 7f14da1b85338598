#!/usr/bin/env bash
# Measures the real program under Wine, driven through its windows: how soon its window answers
# after it appears, the CPU share of its process (and of the wineserver and X server that work
# for it) over a window of time while it sits idle and while it records, its working set, and
# the render loop's frames per second. Runs under the `wine` on PATH; LABEL names it in the output.
# Needs the services of scripts/lib/services.sh.
# Usage: app_bench.sh VOXTREL_EXE DRIVER_EXE SECONDS [LABEL]
set -euo pipefail
exe="$(realpath "$1")"
driver="$(realpath "$2")"
seconds="$3"
label="${4:-app}"
fps_seconds=10
answer_runs=5
work="$(mktemp -d /tmp/voxtrel-bench-app.XXXXXX)"
app=""
ticks_per_second="$(getconf CLK_TCK)"

cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

drive() { wine "$driver" "$@" | tr -d '\r'; }

# Prints the Linux process id whose program name (its first argument, so not this script,
# whose arguments name the program too) matches a pattern and that runs for this Wine prefix
# (other prefixes on the machine may run a voxtrel.exe or a wineserver too).
find_prefix_pid() {
  local pid
  for pid in $(pgrep -f "$1"); do
    head -z -n 1 "/proc/$pid/cmdline" 2>/dev/null | tr -d '\0' | grep -q "$1" || continue
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
      return 0
    fi
  done
  return 1
}

# Prints utime + stime of a process in clock ticks.
cpu_ticks() { if [ -n "$1" ] && [ -r "/proc/$1/stat" ]; then awk '{print $14 + $15}' "/proc/$1/stat"; else echo 0; fi; }

# Prints a process's resident set in KiB.
rss_kib() { awk '/^VmRSS:/ {print $2}' "/proc/$1/status"; }

# Prints one line per thread of a process: thread id, name and CPU clock ticks so far.
thread_ticks() {
  local task
  for task in /proc/"$1"/task/*; do
    echo "$(basename "$task") $(tr ' ' '_' <"$task/comm") $(awk '{print $14 + $15}' "$task/stat")"
  done 2>/dev/null | LC_ALL=C sort
}

# Samples the CPU of the program (in all and per thread), the wineserver and Xvfb over
# SECONDS, and the program's working set at both ends of that window.
sample_cpu() {
  local what="$1" pid="$2" server xserver a b sa sb xa xb rss_a rss_b
  server="$(find_prefix_pid 'wine/wineserver' || true)"
  xserver="$(pgrep -n -f "Xvfb $DISPLAY " || true)"
  thread_ticks "$pid" >"$work/threads-a"
  a=$(cpu_ticks "$pid"); sa=$(cpu_ticks "$server"); xa=$(cpu_ticks "$xserver"); rss_a=$(rss_kib "$pid")
  sleep "$seconds"
  b=$(cpu_ticks "$pid"); sb=$(cpu_ticks "$server"); xb=$(cpu_ticks "$xserver"); rss_b=$(rss_kib "$pid")
  thread_ticks "$pid" >"$work/threads-b"
  awk -v w="$what" -v s="$seconds" -v t="$ticks_per_second" -v p=$((b - a)) -v ws=$((sb - sa)) -v x=$((xb - xa)) \
    -v ra="$rss_a" -v rb="$rss_b" 'BEGIN {
      printf "%s: CPU over %d s: voxtrel.exe %.1f %% of one core (wineserver %.1f %%, Xvfb %.1f %%)\n",
        w, s, 100 * p / (t * s), 100 * ws / (t * s), 100 * x / (t * s)
      printf "%s: working set %d KiB at the start of the window, %d KiB at its end\n", w, ra, rb }'
  # A thread that started within the window counts from zero.
  LC_ALL=C join -a 2 -e 0 -o 2.1,2.2,1.3,2.3 "$work/threads-a" "$work/threads-b" |
    awk -v w="$what" -v s="$seconds" -v t="$ticks_per_second" '$4 > $3 {
      printf "%s:   thread %s %s %.1f %%\n", w, $1, $2, 100 * ($4 - $3) / (t * s) }'
}

# Counts the swaps the render loop made so far, as Wine's GL driver traces them.
swaps() { grep -c 'wglSwapBuffers' "$work/trace+wgl.log" || true; }

# Prints the render loop's frames per second over fps_seconds.
sample_fps() {
  local what="$1" a b
  a=$(swaps); sleep "$fps_seconds"; b=$(swaps)
  awk -v w="$what" -v n=$((b - a)) -v s="$fps_seconds" 'BEGIN {
    printf "%s: render loop %.1f frames per second (%d swaps in %d s)\n", w, n / s, n, s }'
}

# Starts the program in the work folder with the given Wine trace channels, waits for its
# window and sets app_pid. The trace goes to a log named after the channels.
start_app() {
  local channels="$1"
  (cd "$work" && WINEDEBUG="$channels" exec wine "$exe") 2>"$work/$channels.log" &
  app=$!
  drive wait-window 30000 >/dev/null || { echo "app: the main window never appeared" >&2; exit 1; }
  app_pid="$(find_prefix_pid 'voxtrel\.exe')" || { echo "app: no voxtrel.exe process for $WINEPREFIX" >&2; exit 1; }
  sleep 3  # past start-up, into the steady loop
}

# Starts a recording through the window and waits for it to run.
start_recording() {
  drive click 1
  drive save-dialog "$(winepath -w "$work/$1" 2>/dev/null)" >/dev/null ||
    { echo "app: the save dialog did not take the path" >&2; exit 1; }
  sleep 2
}

# Stops the recording, waits for the status to show it was saved, and checks that audio was
# recorded, so that a figure labelled "recording" never comes from an idle program.
stop_recording() {
  drive click 2
  drive wait-status "Saved to: " 15000 >/dev/null || { echo "app: the recording did not report its end" >&2; exit 1; }
  [ "$(stat -c %s "$work/$1" 2>/dev/null || echo 0)" -gt 48044 ] ||
    { echo "app: $1 holds less than half a second of audio" >&2; exit 1; }
}

# Closes the program and waits for it to end.
close_app() {
  drive close
  wait "$app" || true
  app=""
}

# Prints the median of how soon the window answered a close posted as it appeared, over a few
# starts of the program.
sample_answer_time() {
  local times=() answer
  for _ in $(seq "$answer_runs"); do
    (cd "$work" && exec wine "$exe") >/dev/null 2>&1 &
    app=$!
    answer="$(drive answer-time 30000)" || { echo "$label: the window never answered" >&2; exit 1; }
    times+=("${answer%% *}")
    wait "$app" || true
    app=""
  done
  printf '%s\n' "${times[@]}" | sort -n | awk -v w="$label" -v all="${times[*]}" '{v[NR] = $1}
    END {printf "%s: the window answers %d ms after it appears (median of %d starts: %s ms)\n", w, v[int((NR + 1) / 2)], NR, all}'
}

sample_answer_time

# CPU and working set without tracing, which would cost CPU of its own.
start_app -all
sample_cpu "$label idle" "$app_pid"
start_recording cpu.wav
sample_cpu "$label recording" "$app_pid"
stop_recording cpu.wav
close_app

# Frames per second from the trace of Wine's GL driver, one line per SwapBuffers.
start_app trace+wgl
sample_fps "$label idle"
start_recording fps.wav
sample_fps "$label recording"
stop_recording fps.wav
close_app
