#!/usr/bin/env bash
# Decodes the snapshots the engine tests saved with the ffmpeg tool and checks their size.
set -euo pipefail
dir=$1
for f in snapshot.bmp snapshot.jpg; do
  size=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$dir/$f")
  ffmpeg -nostdin -v error -i "$dir/$f" -f null - 
  if [ "$size" != "320,240" ]; then
    echo "$f: decoded as $size, expected 320,240" >&2
    exit 1
  fi
done
echo "snapshots decode at 320x240"
