# Sourced by the test and demo commands: a ready Wine prefix for BUILD_DIR, one wineserver kept
# alive for the whole run, and an X server when there is no display. Usage: wine_session BUILD_DIR
wine_session() {
  local build
  build=$(cd "$1" && pwd)
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
    setarch "$(uname -m)" -R wineboot -i >/dev/null 2>&1 || true
  fi
  # Exits 2 when a server for this prefix is already running, which serves as well.
  wineserver -p >/dev/null 2>&1 || true
  # Start Wine's background services now, detached from our output: started by a test, they
  # would inherit CTest's pipe and keep it waiting after the test ended. Without address
  # randomisation, as the runner starts every program (see wine-run.sh.in).
  setarch "$(uname -m)" -R wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  trap wine_session_end EXIT
}

wine_session_end() {
  wineserver -k >/dev/null 2>&1 || true
  if [ -n "${KESTRAVA_XVFB_PID:-}" ]; then
    kill "$KESTRAVA_XVFB_PID" 2>/dev/null || true
  fi
}
