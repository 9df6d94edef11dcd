#!/usr/bin/env bash
# Compares the snapshots the component tests saved with the ffmpeg tool's decode of the same
# picture: every snapshot must decode at the clip's size and match it closely.
set -euo pipefail
dir=$1
psnr() { # snapshot reference -> average PSNR in dB (inf for identical pictures)
  ffmpeg -nostdin -hide_banner -i "$1" -i "$2" -lavfi "[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr" \
    -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.a-z]*\).*/\1/p' | tail -1
}
fail=0
for clip in hd:1920,1080 uhd:3840,2160; do
  name=${clip%%:*}
  for kind in bmp:40 jpg:30; do
    ext=${kind%%:*}
    floor=${kind##*:}
    file="$dir/$name-snapshot.$ext"
    size=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$file")
    db=$(psnr "$file" "$dir/$name-first.png")
    echo "$name-snapshot.$ext: ${size/,/x}, PSNR $db dB against the clip's first frame (floor $floor)"
    if [ "$size" != "${clip##*:}" ]; then
      echo "  decoded at $size, expected ${clip##*:}" >&2
      fail=1
    fi
    if [ "$db" != inf ] && ! awk -v d="$db" -v f="$floor" 'BEGIN { exit !(d >= f) }'; then
      echo "  too far from the clip's picture" >&2
      fail=1
    fi
  done
done
exit $fail
