#!/usr/bin/env bash
# Generates the component tests' clips into DIR (skips work already done): a small clip to play,
# and still pictures of 1080p and 4K whose every frame is the same, so any frame a snapshot
# catches can be compared with the ffmpeg tool's decode of the first.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
x264=(-c:v libx264 -preset veryfast -pix_fmt yuv420p)

[ -s clip.mp4 ] || ff -f lavfi -i testsrc=size=320x240:rate=25 "${x264[@]}" -g 25 -frames:v 150 \
  clip.mp4
# Many small frames a second: many host calls in little time.
[ -s fast.mp4 ] || ff -f lavfi -i testsrc=size=160x120:rate=100 "${x264[@]}" -g 50 \
  -frames:v 1000 fast.mp4
# A recorder switching its profile: 50 frames at 320x240, then 50 at 640x360, two encodes joined
# with the second's times going on from the first's (two seconds and the B-frame delay).
if [ ! -s size_change.ts ]; then
  ff -f lavfi -i testsrc=size=320x240:rate=25 "${x264[@]}" -bf 2 -frames:v 50 -f mpegts size-a.ts
  ff -f lavfi -i testsrc=size=640x360:rate=25 "${x264[@]}" -bf 2 -frames:v 50 -output_ts_offset 2.08 \
    -f mpegts size-b.ts
  cat size-a.ts size-b.ts >size_change.ts
  rm -f size-a.ts size-b.ts
fi
# Every frame a key frame, nearly lossless: the picture keeps its detail.
still() {
  [ -s "$1.mp4" ] || ff -f lavfi -i "$2" "${x264[@]}" -g 1 -crf 4 -frames:v 4 -r 25 "$1.mp4"
  [ -s "$1-first.png" ] || ff -i "$1.mp4" -frames:v 1 "$1-first.png"
}
still hd "testsrc2=size=1920x1080:rate=25,loop=loop=-1:size=1"
# Test pattern under fine noise: a JPEG of it is far larger than the first capture buffer.
still uhd "testsrc2=size=3840x2160:rate=25,noise=alls=30:allf=u,loop=loop=-1:size=1"
echo ready >media.stamp
