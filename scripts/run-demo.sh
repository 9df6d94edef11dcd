#!/usr/bin/env bash
# The main command: sets everything up on a fresh machine, registers the component in the
# project's Wine prefix and plays a clip through it with the demo host.
# Usage: scripts/run-demo.sh [CLIP] [OUTPUT_DIR]
#   CLIP        a video file (default: a sample clip made with the ffmpeg tool)
#   OUTPUT_DIR  where the snapshots, the window screenshot and the report go (default: demo-output)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
build="$(mkdir -p "${KESTRAVA_BUILD_DIR:-$top/build}" && cd "${KESTRAVA_BUILD_DIR:-$top/build}" && pwd)"
out="$(mkdir -p "${2:-$top/demo-output}" && cd "${2:-$top/demo-output}" && pwd)"

bash "$here/build.sh" "$build"

clip="${1:-}"
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
clip="$(cd "$(dirname "$clip")" && pwd)/$(basename "$clip")"

# shellcheck source=wine-session.sh
source "$here/wine-session.sh"
wine_session "$build"

echo "== registering Kestrava.DLL in $WINEPREFIX"
rc=0
(cd "$build/bin" && wine regsvr32 /s Kestrava.DLL) || rc=$?
if [ "$rc" != 0 ]; then
  echo "regsvr32 failed with exit code $rc" >&2
  exit 1
fi

echo "== playing $clip"
rm -f "$out"/snapshot.jpg "$out"/snapshot.bmp "$out"/window.bmp "$out"/window.png
set +e
# Wine's sound drivers complain on machines without a sound card; the demo reports what counts.
(cd "$build/bin" && wine KestravaDemo.exe "Z:$clip" "Z:$out" 1000 2000 2> >(grep -v '^ALSA' >&2)) |
  tr -d '\r' | tee "$out/report.txt"
rc=${PIPESTATUS[0]}
set -e
if [ -s "$out/window.bmp" ]; then
  ffmpeg -nostdin -loglevel error -y -i "$out/window.bmp" "$out/window.png" && rm -f "$out/window.bmp"
fi
echo "== output in $out:"
ls -l "$out"
exit "$rc"
