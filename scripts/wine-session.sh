# Sourced by the test and demo commands: a ready Wine prefix for BUILD_DIR, one wineserver kept
# alive for the whole run, and an X server when there is no display. Usage: wine_session BUILD_DIR
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

wine_session_end() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${KESTRAVA_XVFB_PID:-}" ]; then
    kill "$KESTRAVA_XVFB_PID" 2>/dev/null || true
  fi
}
