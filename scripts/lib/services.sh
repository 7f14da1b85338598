# Starts and stops what the tests need, once per run: Xvfb, a private PulseAudio server with a
# sine source as the default capture device, and one persistent wineserver.
VOXTREL_RUN_DIR=""
VOXTREL_XVFB_PID=""

voxtrel_start_services() {
  VOXTREL_RUN_DIR="$(mktemp -d /tmp/voxtrel-run.XXXXXX)"
  voxtrel_wine_prefix

  local n=90
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$VOXTREL_RUN_DIR/xvfb.log" 2>&1 &
  VOXTREL_XVFB_PID=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  log "Xvfb on $DISPLAY"

  export XDG_RUNTIME_DIR="$VOXTREL_RUN_DIR/xdg"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  export VOXTREL_PULSE_SERVER="$PULSE_SERVER"
  pulseaudio --daemonize=yes --exit-idle-time=-1 --disallow-exit -n --log-target=file:"$VOXTREL_RUN_DIR/pulse.log" \
    --load=module-native-protocol-unix --load=module-null-sink \
    --load="module-sine-source source_name=voxtrel_sine frequency=440 rate=48000" \
    --load=module-always-sink >/dev/null 2>&1 || log "PulseAudio did not start (see $VOXTREL_RUN_DIR/pulse.log)"
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-source voxtrel_sine >/dev/null 2>&1 || true
  log "PulseAudio at $PULSE_SERVER"

  wineserver -p >/dev/null 2>&1 </dev/null || true  # exits 2 when one is already running
  # NOTE: the first Wine program of a session starts Wine's own services, which would inherit
  # and hold open the output pipe of whatever started them (ctest's test discovery waits for
  # that pipe to close). Starting them here, with their output going nowhere, avoids it.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  # NOTE: with no window manager on Xvfb, Wine waits 2 s for every managed top-level window it
  # hides (each dismissed message box) or reparents; unmanaged windows are handled at once. The
  # test programs run unmanaged; Voxtrel itself stays managed, as it is for a user.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null || true
  wine reg add 'HKCU\Software\Wine\AppDefaults\voxtrel.exe\X11 Driver' /v Managed /d Y /f \
    >/dev/null 2>&1 </dev/null || true
  log "wineserver running for $WINEPREFIX"
}

voxtrel_stop_services() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${PULSE_SERVER:-}" ]; then pulseaudio -k >/dev/null 2>&1 || true; fi
  if [ -n "$VOXTREL_XVFB_PID" ]; then kill "$VOXTREL_XVFB_PID" 2>/dev/null || true; wait "$VOXTREL_XVFB_PID" 2>/dev/null || true; fi
  [ -n "$VOXTREL_RUN_DIR" ] && rm -rf "$VOXTREL_RUN_DIR"
  VOXTREL_XVFB_PID=""
}
