#!/usr/bin/env bash
# Generates the engine tests' clips into DIR (skips work already done).
# Every clip: 150 frames of test pattern at 25 fps, a key frame every 25 frames, B-frames on.
set -euo pipefail
dir=$1
mkdir -p "$dir"
cd "$dir"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
video=(-f lavfi -i testsrc=size=320x240:rate=25)
audio=(-f lavfi -i sine=frequency=440:sample_rate=44100 -c:a aac -b:a 64k)
out=(-frames:v 150 -pix_fmt yuv420p -shortest)
x264=(-c:v libx264 -preset veryfast -g 25 -keyint_min 25 -sc_threshold 0 -bf 2)
x265=(-c:v libx265 -preset ultrafast -x265-params "keyint=25:min-keyint=25:scenecut=0:open-gop=0:bframes=2:log-level=error")

[ -s h264.mp4 ] || ff "${video[@]}" "${x264[@]}" "${out[@]}" h264.mp4
[ -s h264_aac.mp4 ] || ff "${video[@]}" "${audio[@]}" "${x264[@]}" "${out[@]}" h264_aac.mp4
[ -s hevc.mkv ] || ff "${video[@]}" "${x265[@]}" "${out[@]}" hevc.mkv
[ -s hevc_aac.mkv ] || ff "${video[@]}" "${audio[@]}" "${x265[@]}" "${out[@]}" hevc_aac.mkv

# The same H.264 stream in other containers, and bare.
[ -s h264.ts ] || ff -i h264.mp4 -c copy h264.ts
[ -s h264.mkv ] || ff -i h264.mp4 -c copy h264.mkv
[ -s h264.264 ] || ff -i h264.mp4 -c copy -bsf:v h264_mp4toannexb -f h264 h264.264
[ -s hevc_opengop.mkv ] || ff "${video[@]}" -c:v libx265 -preset ultrafast \
  -x265-params "keyint=25:min-keyint=25:scenecut=0:open-gop=1:bframes=3:log-level=error" \
  "${out[@]}" hevc_opengop.mkv
[ -s hevc.mp4 ] || ff -i hevc.mkv -c copy -tag:v hvc1 hevc.mp4

# Streams whose container does not time every picture: MPEG-4 Part 2 with B-frames packed
# two to a chunk (what libxvid writes into AVI), bare streams with open GOPs.
[ -s mpeg4_packed.avi ] || ff "${video[@]}" -c:v libxvid -bf 2 -g 50 "${out[@]}" mpeg4_packed.avi
[ -s h264_opengop.264 ] || ff "${video[@]}" "${x264[@]}" -x264-params open_gop=1 "${out[@]}" \
  -f h264 h264_opengop.264
[ -s h264.avi ] || ff -i h264.mp4 -c copy h264.avi
[ -s hevc_opengop.hevc ] || ff -i hevc_opengop.mkv -c copy -bsf:v hevc_mp4toannexb -f hevc \
  hevc_opengop.hevc

# Program streams as recorders write them (H.264 with AAC, HEVC with G.711 A-law, H.264 with
# G.711 µ-law and times on key frames only).
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ ! -s h264_aac.ps ]; then
  ff -i h264_aac.mp4 -map 0:v -c copy -f mpegts ps-video.ts
  ff -i h264_aac.mp4 -map 0:a -c copy -f adts ps-audio.aac
  python3 "$here/make-ps.py" ps-video.ts adts ps-audio.aac h264_aac.ps
fi
if [ ! -s hevc_g711.mpg ]; then
  ff -i hevc.mkv -c copy -f mpegts ps-video.ts
  ff -f lavfi -i sine=frequency=440:sample_rate=8000 -t 6 -c:a pcm_alaw -f alaw ps-audio.alaw
  python3 "$here/make-ps.py" ps-video.ts alaw ps-audio.alaw hevc_g711.mpg
fi
if [ ! -s h264_mulaw.ps ]; then
  ff -i h264_aac.mp4 -map 0:v -c copy -f mpegts ps-video.ts
  ff -f lavfi -i sine=frequency=440:sample_rate=8000 -t 6 -c:a pcm_mulaw -f mulaw ps-audio.ulaw
  python3 "$here/make-ps.py" ps-video.ts mulaw ps-audio.ulaw h264_mulaw.ps keytimes
fi
rm -f ps-video.ts ps-audio.aac ps-audio.alaw ps-audio.ulaw

# The ffmpeg tool's own decode of the frames the picture tests position to, as raw yuv420p:
# refs/CLIP.txt holds the frame count, the key frames and the frames extracted.
reference() {
  local clip=$1 k next n
  [ -s "refs/$clip.txt" ] && return
  mkdir -p refs
  mapfile -t flags < <(ffprobe -v error -select_streams v:0 -show_entries frame=key_frame \
    -of csv "$clip" | awk -F, '$1 == "frame" { print $2 }')
  local keys=() count=${#flags[@]}
  for n in "${!flags[@]}"; do
    if [ "${flags[$n]}" = 1 ]; then keys+=("$n"); fi
  done
  k=${keys[1]}
  next=${keys[2]:-$count}
  local checked=(0 1 $((k - 1)) "$k" $((k + 1)) $(((k + next) / 2)) $((count - 1)))
  for n in "${checked[@]}"; do
    ff -i "$clip" -an -vf "select=eq(n\,$n)" -fps_mode passthrough -frames:v 1 -pix_fmt yuv420p \
      -f rawvideo "refs/$clip-$n.yuv"
  done
  printf 'frames %s\nkeys %s\nchecked %s\n' "$count" "${keys[*]}" "${checked[*]}" \
    >"refs/$clip.txt.tmp"
  mv "refs/$clip.txt.tmp" "refs/$clip.txt"
}
for clip in h264.mp4 mpeg4_packed.avi h264.avi h264_opengop.264 hevc_opengop.hevc h264_aac.ps \
  hevc_g711.mpg h264_mulaw.ps; do
  reference "$clip"
done

# Recordings whose time stamps jump, as recorders that record on motion and exports that join
# recordings write them, each as a transport and as a program stream: two 10 s halves 30
# minutes apart; a newer half, then one 50 minutes older; three 5 s parts with both jumps; and
# 20 s across the wrap of the 33-bit stamps (frame 208 is the first after it). Each part has
# a picture of its own, so that a frame from the wrong part shows.
part() { # OUT SOURCE FRAMES OFFSET
  ff -f lavfi -i "$2=size=320x240:rate=25" -frames:v "$3" -pix_fmt yuv420p "${x264[@]}" \
    -f mpegts -output_ts_offset "$4" "$1"
}
joined() { # NAME PART...
  [ -s "$1.ps" ] && return
  cat "${@:2}" >"$1.ts.tmp"
  : >no-sound.alaw
  python3 "$here/make-ps.py" "$1.ts.tmp" alaw no-sound.alaw "$1.ps"
  mv "$1.ts.tmp" "$1.ts"
  rm -f no-sound.alaw
}
if [ ! -s join_twice.ps ]; then
  part join-a.ts testsrc 250 100
  part join-b.ts testsrc2 250 1900
  part join-c.ts testsrc2 250 3100
  joined join_forward join-a.ts join-b.ts
  joined join_back join-c.ts join-a.ts
  part join-a.ts testsrc 125 100
  part join-b.ts testsrc2 125 1900
  part join-c.ts rgbtestsrc 125 50
  joined join_twice join-a.ts join-b.ts join-c.ts
  rm -f join-a.ts join-b.ts join-c.ts
fi
if [ ! -s join_wrap.ps ]; then
  part join-wrap.ts testsrc 500 95434
  joined join_wrap join-wrap.ts
  rm -f join-wrap.ts
fi
# A step of three frames that the stream flags as a new time base, as a recorder starting a new
# recording may.
if [ ! -s join_flagged.ts ]; then
  part join-a.ts testsrc 250 100
  part join-b.ts testsrc2 250 110.12
  python3 - join-b.ts <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
for i in range(0, len(data), 188):
    # The first packet that starts a picture and carries the clock: set its discontinuity flag.
    if data[i + 1] & 0x40 and data[i + 3] & 0x20 and data[i + 4] and data[i + 5] & 0x10:
        data[i + 5] |= 0x80
        break
else:
    sys.exit("no packet with a clock reference")
open(sys.argv[1], "wb").write(data)
PY
  cat join-a.ts join-b.ts >join_flagged.ts
  rm -f join-a.ts join-b.ts
fi
# The tool's decode of the frames on either side of each jump, as for the clips above.
pictures() { # CLIP FRAME...
  local n
  mkdir -p refs
  for n in "${@:2}"; do
    [ -s "refs/$1-$n.yuv" ] || ff -i "$1" -an -vf "select=eq(n\,$n)" -fps_mode passthrough \
      -frames:v 1 -pix_fmt yuv420p -f rawvideo "refs/$1-$n.yuv"
  done
}
pictures join_flagged.ts 0 249 250 499
for ext in ts ps; do
  pictures "join_forward.$ext" 0 249 250 499
  pictures "join_back.$ext" 0 249 250 499
  pictures "join_twice.$ext" 0 124 125 249 250 374
  pictures "join_wrap.$ext" 0 207 208 499
done

# A short full-HD clip: its snapshots are larger than the buffer hosts usually offer.
[ -s h264_1080p.mp4 ] || ff -f lavfi -i testsrc=size=1920x1080:rate=25 -frames:v 10 \
  -pix_fmt yuv420p -c:v libx264 -preset ultrafast -g 5 h264_1080p.mp4
# Rows of 3,846 bytes, padded to 3,848 in a BMP.
[ -s h264_1282.mp4 ] || ff -f lavfi -i testsrc=size=1282x722:rate=25 -frames:v 5 \
  -pix_fmt yuv420p -c:v libx264 -preset ultrafast h264_1282.mp4

# A recorder switching its profile: two seconds at 320x240, then two at 640x360, two encodes
# joined byte for byte, the second's time stamps going on from the first's (its offset is two
# seconds plus the two frames of B-frame delay the first encode starts with).
if [ ! -s size_change.ts ]; then
  ff "${video[@]}" "${x264[@]}" -frames:v 50 -pix_fmt yuv420p -f mpegts size-a.ts
  ff -f lavfi -i testsrc=size=640x360:rate=25 "${x264[@]}" -frames:v 50 -pix_fmt yuv420p \
    -output_ts_offset 2.08 -f mpegts size-b.ts
  cat size-a.ts size-b.ts >size_change.ts
  rm -f size-a.ts size-b.ts
fi

# 24 s to append piece by piece, as a recorder writes it.
[ -s recording.ts ] || ff "${video[@]}" "${x264[@]}" -frames:v 600 -pix_fmt yuv420p recording.ts

# An hour of tiny pictures (ten seconds encoded once, then copied), whose index takes a while.
if [ ! -s long.mp4 ]; then
  ff -f lavfi -i testsrc=size=64x64:rate=25 -frames:v 250 -pix_fmt yuv420p -c:v libx264 \
    -preset veryfast -g 250 -bf 2 -b:v 20k long-part.mp4
  ff -stream_loop 359 -i long-part.mp4 -c copy long.mp4
  rm -f long-part.mp4
fi

# A dozen tiny frames, for tests that open and close a file thousands of times.
[ -s tiny.mp4 ] || ff -f lavfi -i testsrc=size=64x64:rate=25 -frames:v 12 -pix_fmt yuv420p \
  -c:v libx264 -preset veryfast -g 4 -bf 2 tiny.mp4

# Damaged and foreign files.
: >empty.mp4
printf 'This is a text file, not a video.\n%.0s' $(seq 200) >notmedia.mp4
size=$(stat -c %s h264.mp4)
head -c $((size / 3)) h264.mp4 >truncated.mp4
# The same bytes with the container's structure destroyed.
tr '\000-\377' '\377\000-\376' <h264.mp4 >corrupt.mp4
# One clip of each format docs/REFERENCE.md lists that the clips above do not cover.
sine=(-f lavfi -i sine=frequency=440:sample_rate=44100)
[ -s mpeg4_mp3.avi ] || ff "${video[@]}" "${sine[@]}" -c:v mpeg4 -g 25 -bf 0 -q:v 5 \
  -c:a libmp3lame -b:a 64k "${out[@]}" mpeg4_mp3.avi
[ -s mjpeg_pcm.mov ] || ff "${video[@]}" "${sine[@]}" -c:v mjpeg -q:v 5 -c:a pcm_s16le \
  "${out[@]}" mjpeg_pcm.mov
[ -s mjpeg_alaw.avi ] || ff "${video[@]}" -f lavfi -i sine=frequency=440:sample_rate=8000 \
  -c:v mjpeg -q:v 5 -c:a pcm_alaw "${out[@]}" mjpeg_alaw.avi
[ -s hevc.265 ] || ff -i hevc.mkv -c copy -bsf:v hevc_mp4toannexb -f hevc hevc.265
# Two seconds of large pictures for many ports at once.
[ -s load_1080p.mp4 ] || ff -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 50 \
  -pix_fmt yuv420p -c:v libx264 -preset ultrafast -bf 2 -g 50 load_1080p.mp4
[ -s load_2160p.mkv ] || ff -f lavfi -i testsrc2=size=3840x2160:rate=25 -frames:v 50 \
  -pix_fmt yuv420p -c:v libx265 -preset ultrafast \
  -x265-params "keyint=50:bframes=2:log-level=error" load_2160p.mkv
# 50 good pictures, then 100 that no decoder can read, in a sound container.
if [ ! -s mjpeg_broken.avi ]; then
  ff "${video[@]}" -frames:v 50 -c:v mjpeg -q:v 5 broken_head.avi
  ff "${video[@]}" -frames:v 100 -c:v mjpeg -q:v 5 -bsf:v noise=amount=1 broken_tail.avi
  printf "file '%s'\n" broken_head.avi broken_tail.avi >broken.txt
  ff -v quiet -f concat -safe 0 -i broken.txt -c copy mjpeg_broken.avi
  rm -f broken_head.avi broken_tail.avi broken.txt
fi
echo ready >media.stamp
