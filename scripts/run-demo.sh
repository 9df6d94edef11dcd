#!/usr/bin/env bash
# The main command: sets everything up on a fresh machine, registers the component in the
# project's Wine prefix and plays a clip through it with the demo host.
# Usage: scripts/run-demo.sh [CLIP] [OUTPUT_DIR]
#   CLIP        a video file (default: a sample clip made with the ffmpeg tool)
#   OUTPUT_DIR  where the snapshots, the window screenshot, the report and the log go
#               (default: demo-output)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"

# A wrong clip stops here, before minutes of building; the path is used as given.
clip="${1:-}"
if [ -n "$clip" ]; then
  if [ -d "$clip" ]; then
    echo "run-demo: $clip is a folder: give a video file" >&2
    exit 2
  elif [ ! -e "$clip" ]; then
    echo "run-demo: no such file: $clip" >&2
    exit 2
  elif [ ! -r "$clip" ]; then
    echo "run-demo: cannot read $clip" >&2
    exit 2
  fi
  case "$clip" in /*) ;; *) clip="$PWD/$clip" ;; esac
fi
build="$(mkdir -p "${KESTRAVA_BUILD_DIR:-$top/build}" && cd "${KESTRAVA_BUILD_DIR:-$top/build}" && pwd)"
out="$(mkdir -p "${2:-$top/demo-output}" && cd "${2:-$top/demo-output}" && pwd)"

bash "$here/build.sh" --arch 32 "$build" KestravaDemo Kestrava playctrl_engine QorLog CommonModule

if [ -z "$clip" ]; then
  clip="$out/sample.mp4"
  if [ ! -s "$clip" ]; then
    echo "== making a sample clip: $clip"
    ffmpeg -nostdin -hide_banner -loglevel error -y \
      -f lavfi -i testsrc2=size=640x360:rate=25 \
      -f lavfi -i sine=frequency=330:sample_rate=44100 \
      -frames:v 200 -shortest -pix_fmt yuv420p \
      -c:v libx264 -preset veryfast -g 25 -c:a aac -b:a 96k "$clip"
  fi
fi

# Sound libraries complain on machines without a sound card, and Wine about its X connection;
# everything else on standard error still shows.
quiet() { grep -v -e '^ALSA lib' -e '^X connection to' >&2 || true; }

# shellcheck source=wine-session.sh
source "$here/wine-session.sh"
wine_session "$build"

echo "== registering Kestrava.DLL in $WINEPREFIX"
rc=0
(cd "$build/bin" && wine regsvr32 /s Kestrava.DLL) 2> >(quiet) || rc=$?
if [ "$rc" != 0 ]; then
  echo "regsvr32 failed with exit code $rc" >&2
  for dll in Kestrava.DLL PlayCtrl.dll QorLog.dll CommonModule.dll; do
    [ -f "$build/bin/$dll" ] || echo "  missing: $build/bin/$dll" >&2
  done
  exit 1
fi

# The log goes beside the output: a fresh kestrava.log for this run.
cp "$build/bin/log.properties" "$out/log.properties"
rm -f "$out"/snapshot.jpg "$out"/snapshot.bmp "$out"/window.bmp "$out"/window.png \
  "$out"/kestrava.log "$out"/report.txt
echo "== playing $clip"
rc=0
(cd "$out" && wine "$build/bin/KestravaDemo.exe" "Z:$clip" "Z:$out" 1000 2000) \
  2> >(quiet) >"$out/report.txt" || rc=$?
rm -f "$out/log.properties"
if [ -s "$out/window.bmp" ] &&
  ffmpeg -nostdin -loglevel error -y -i "$out/window.bmp" "$out/window.png"; then
  rm -f "$out/window.bmp"
  sed -i 's|window\.bmp|window.png|' "$out/report.txt"
fi
# Unix paths in the report, as the user gave them.
sed -i -e 's/\r$//' -e 's|Z:/|/|g' "$out/report.txt"
cat "$out/report.txt"
if [ -s "$out/kestrava.log" ]; then
  echo "== calls the engine refused, with its reasons ($out/kestrava.log):"
  cat "$out/kestrava.log"
else
  rm -f "$out/kestrava.log"
fi
echo "== written to $out:"
(cd "$out" && ls -l -- $(ls | grep -vx sample.mp4))
exit "$rc"
