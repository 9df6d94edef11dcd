# Sourced by the test and demo commands: a ready Wine prefix for BUILD_DIR, one wineserver kept
# alive for the whole run, an X server when there is no display, and a sound server of the run's
# own (wine_sound_start). Usage: wine_session BUILD_DIR
# The runners source it too, for wine_session_probe alone.
wine_session() {
  local build
  build=$(cd "$1" && pwd)
  wine_session_probe
  local norandom=()
  [ "$KESTRAVA_SETARCH" = 0 ] || norandom=(setarch "$(uname -m)" -R)
  # The build's architecture decides its prefix's: win64 runs 64- and 32-bit programs.
  local arch
  arch=$(sed -n 's/^export WINEARCH=//p' "$build/wine-run.sh" 2>/dev/null)
  export WINEPREFIX="$build/wineprefix" WINEDEBUG=-all WINEARCH="${arch:-win32}"
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ -z "${DISPLAY:-}" ]; then
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    KESTRAVA_XVFB_PID=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  fi
  wine_sound_start
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "== creating the Wine prefix $WINEPREFIX"
    "${norandom[@]}" wineboot -i >/dev/null 2>&1 || true
  fi
  # Exits 2 when a server for this prefix is already running, which serves as well.
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine's background services now, detached from our output: started by a test, they
  # would inherit CTest's pipe and keep it waiting after the test ended. Without address
  # randomisation where allowed, as the runner starts every program (see wine-run.sh.in).
  "${norandom[@]}" wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  trap wine_session_end EXIT
}

# Whether Wine can start without address randomisation: some containers' seccomp profiles refuse
# it. Tried once, and said once when refused; the runners follow KESTRAVA_SETARCH (1 or 0).
wine_session_probe() {
  [ -z "${KESTRAVA_SETARCH:-}" ] || return 0
  if setarch "$(uname -m)" -R true >/dev/null 2>&1; then
    export KESTRAVA_SETARCH=1
  else
    export KESTRAVA_SETARCH=0
    echo "note: setarch -R is refused here, so Wine starts with address randomisation" >&2
  fi
}

# PulseAudio with a null sink, which keeps real time and whose monitor the tests that listen
# record, in a private folder: Wine's winepulse plays into it (PULSE_SERVER), and the machine's
# own sound set-up, if any, is neither used nor disturbed. A silent stream keeps the sink running
# all along, so that no new stream's first moments are lost while it wakes. KESTRAVA_SOUND_SINK
# names the sink once it runs. Without PulseAudio, or when it does not start, PULSE_SERVER still
# names the private folder, so that nothing reaches or spawns a desktop's server, and Wine falls
# back to ALSA's null device (wine-run.sh).
wine_sound_start() {
  local dir
  dir=$(mktemp -d "${TMPDIR:-/tmp}/kestrava-sound.XXXXXX")
  KESTRAVA_SOUND_DIR=$dir
  export PULSE_SERVER="unix:$dir/native"
  unset KESTRAVA_SOUND_SINK
  command -v pulseaudio >/dev/null 2>&1 && command -v pacat >/dev/null 2>&1 || return 0
  # Its state and configuration in the folder too; no D-Bus, no real-time scheduling.
  HOME=$dir XDG_CONFIG_HOME=$dir XDG_RUNTIME_DIR=$dir PULSE_RUNTIME_PATH=$dir \
    PULSE_STATE_PATH=$dir DBUS_SESSION_BUS_ADDRESS=disabled: \
    pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 --realtime=no \
    --high-priority=no --log-target="file:$dir/server.log" \
    --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    --load="module-null-sink sink_name=kestrava rate=48000 channels=2" \
    </dev/null >/dev/null 2>&1 &
  KESTRAVA_PULSE_PID=$!
  local ready=0
  for _ in $(seq 50); do
    if [ -S "$dir/native" ] && pactl info >/dev/null 2>&1; then
      ready=1
      break
    fi
    sleep 0.1
  done
  if [ "$ready" = 0 ]; then
    echo "note: the run's own PulseAudio did not start ($dir/server.log), so sound plays into" \
      "ALSA's null device and the tests that listen are skipped" >&2
    kill "$KESTRAVA_PULSE_PID" 2>/dev/null || true
    KESTRAVA_PULSE_PID=
    return 0
  fi
  pacat --playback --raw --format=s16le --rate=48000 --channels=2 --client-name=kestrava \
    --stream-name=silence /dev/zero </dev/null >/dev/null 2>&1 &
  KESTRAVA_SILENCE_PID=$!
  export KESTRAVA_SOUND_SINK=kestrava
}

wine_session_end() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${KESTRAVA_XVFB_PID:-}" ]; then
    kill "$KESTRAVA_XVFB_PID" 2>/dev/null || true
  fi
  local pid
  for pid in "${KESTRAVA_SILENCE_PID:-}" "${KESTRAVA_PULSE_PID:-}"; do
    [ -z "$pid" ] || { kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; } || true
  done
  [ -z "${KESTRAVA_SOUND_DIR:-}" ] || rm -rf "$KESTRAVA_SOUND_DIR"
}
