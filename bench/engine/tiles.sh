#!/usr/bin/env bash
# The tiles benchmark: makes a 1080p and a D1 camera-like clip (a moving scene under moving
# noise, 4 and 1 Mbit/s, a key frame every 50 pictures and no B-frames), then for 16 and 32
# tiles measures the floor (the same FFmpeg decoding on one thread a clip) and the ports
# playing, one after the other in processes of their own; last, 32 D1 tiles.
# Usage: bench/engine/tiles.sh [BUILD_DIR [SECONDS]]   (default: build, 10; must be built)
set -euo pipefail
build="$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/../../build}" && pwd)" seconds="${2:-10}"
media="$build/bench-media" && mkdir -p "$media"
camera() { # SIZE BITRATE OUT: 20 s
  [ -s "$3" ] || ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=$1:rate=25" -vf noise=alls=12:allf=t -frames:v 500 \
    -pix_fmt yuv420p -c:v libx264 -preset veryfast -b:v "$2" -maxrate "$2" -bufsize "$2" \
    -g 50 -keyint_min 50 -sc_threshold 0 -bf 0 "$3"
}
camera 1920x1080 4M "$media/tiles-1080p.mp4"
camera 720x576 1M "$media/tiles-d1.mp4"
tiles="$build/bin/bench_tiles.exe"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
for n in 16 32; do
  clip="Z:$media/tiles-1080p.mp4"
  floor=$("$build/wine-run.sh" "$tiles" floor "$clip" "$n" "$seconds")
  echo "$floor"
  # shellcheck disable=SC2046 # the two figures, as two arguments
  "$build/wine-run.sh" "$tiles" tiles "$clip" "$n" "$seconds" $(echo "$floor" |
    sed -n 's/.*: \([0-9.]*\) pictures a second, \([0-9.]*\) a CPU second.*/\1 \2/p')
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
done
"$build/wine-run.sh" "$tiles" tiles "Z:$media/tiles-d1.mp4" 32 "$seconds"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
