#!/usr/bin/env bash
# Checks the snapshots tests saved in DIR with the ffmpeg tool: each must decode, at the size
# given; one given a reference picture (the ffmpeg tool's decode of the same frame) must also
# match it to at least FLOOR dB of PSNR.
# Usage: check-snapshots.sh DIR SNAPSHOT:WIDTHxHEIGHT[:REFERENCE:FLOOR]...
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: check-snapshots.sh DIR SNAPSHOT:WIDTHxHEIGHT[:REFERENCE:FLOOR]..." >&2
  exit 2
fi
dir=$1
psnr() { # snapshot reference -> average PSNR in dB (inf for identical pictures)
  ffmpeg -nostdin -hide_banner -i "$1" -i "$2" -lavfi "[0:v]format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr" \
    -f null - 2>&1 | sed -n 's/.*PSNR.* average:\([0-9.a-z]*\).*/\1/p' | tail -1
}
fail=0
for check in "${@:2}"; do
  IFS=: read -r name expected reference floor <<<"$check"
  file=$dir/$name
  size=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0 "$file")
  size=${size/,/x}
  ffmpeg -nostdin -v error -i "$file" -f null -
  if [ -z "$reference" ]; then
    echo "$name: $size"
  else
    db=$(psnr "$file" "$dir/$reference")
    echo "$name: $size, PSNR $db dB against $reference (floor $floor)"
    if [ "$db" != inf ] && ! awk -v d="$db" -v f="$floor" 'BEGIN { exit !(d >= f) }'; then
      echo "  too far from the clip's picture" >&2
      fail=1
    fi
  fi
  if [ "$size" != "$expected" ]; then
    echo "  decoded at $size, expected $expected" >&2
    fail=1
  fi
done
exit $fail
