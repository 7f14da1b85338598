# Long steps of the scripts: each shows one line on standard error (what it does, how long it has
# taken, where its log is) while its own output goes to a log file in the cache. A failing step
# prints the last lines of its log.
VOXTREL_LOG_DIR="${VOXTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/voxtrel}/logs"

# Runs a command as one step: voxtrel_step [--quiet-failure] "what it does" log-name command [arguments...]
# With --quiet-failure a failure prints only where the log is, for steps whose caller says why.
voxtrel_step() {
  local quiet=0
  if [ "$1" = "--quiet-failure" ]; then quiet=1; shift; fi
  local what="$1" log="$VOXTREL_LOG_DIR/$2.log"
  shift 2
  mkdir -p "$VOXTREL_LOG_DIR"
  local start=$SECONDS pid rc
  "$@" >"$log" 2>&1 </dev/null &
  pid=$!
  if [ -t 2 ]; then
    while kill -0 "$pid" 2>/dev/null; do
      printf '\r%s ... %ds (log: %s)' "$what" $((SECONDS - start)) "$log" >&2
      sleep 1
    done
  else
    printf '%s ... ' "$what" >&2
  fi
  wait "$pid" && rc=0 || rc=$?
  [ -t 2 ] && printf '\r\033[K%s ... ' "$what" >&2
  if [ "$rc" -eq 0 ]; then
    printf 'done in %ds (log: %s)\n' $((SECONDS - start)) "$log" >&2
  elif [ "$quiet" -eq 1 ]; then
    printf 'failed after %ds (log: %s)\n' $((SECONDS - start)) "$log" >&2
  else
    printf 'FAILED after %ds (exit code %d). The last lines of %s:\n' $((SECONDS - start)) "$rc" "$log" >&2
    tail -n 40 "$log" | sed 's/^/  | /' >&2
  fi
  return "$rc"
}
