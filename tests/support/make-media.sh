#!/usr/bin/env bash
# Generates a set of test clips into DIR (skips work already done): the engine tests' clips, or
# the component tests' own.
# Usage: make-media.sh engine|component DIR
set -euo pipefail
if [ $# != 2 ] || [[ $1 != engine && $1 != component ]]; then
  echo "usage: make-media.sh engine|component DIR" >&2
  exit 2
fi
clips=$1
dir=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$dir"
cd "$dir"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }

# A recorder switching its profile: two seconds at 320x240, then two at 640x360, two encodes
# joined byte for byte, the second's time stamps going on from the first's (its offset is two
# seconds plus the two frames of B-frame delay the first encode starts with).
sizeChange() { # ENCODER-OPTIONS...
  [ -s size_change.ts ] && return
  ff -f lavfi -i testsrc=size=320x240:rate=25 "$@" -f mpegts size-a.ts
  ff -f lavfi -i testsrc=size=640x360:rate=25 "$@" -output_ts_offset 2.08 -f mpegts size-b.ts
  cat size-a.ts size-b.ts >size_change.ts
  rm -f size-a.ts size-b.ts
}

# The component tests': a small clip to play, and still pictures of 1080p and 4K whose every
# frame is the same, so any frame a snapshot catches can be compared with the ffmpeg tool's
# decode of the first.
if [ "$clips" = component ]; then
  x264=(-c:v libx264 -preset veryfast -pix_fmt yuv420p)
  [ -s clip.mp4 ] || ff -f lavfi -i testsrc=size=320x240:rate=25 "${x264[@]}" -g 25 -frames:v 150 \
    clip.mp4
  # Many small frames a second: many host calls in little time.
  [ -s fast.mp4 ] || ff -f lavfi -i testsrc=size=160x120:rate=100 "${x264[@]}" -g 50 \
    -frames:v 1000 fast.mp4
  sizeChange "${x264[@]}" -bf 2 -frames:v 50
  # Every frame a key frame, nearly lossless: the picture keeps its detail.
  still() { # NAME SOURCE
    [ -s "$1.mp4" ] || ff -f lavfi -i "$2" "${x264[@]}" -g 1 -crf 4 -frames:v 4 -r 25 "$1.mp4"
    [ -s "$1-first.png" ] || ff -i "$1.mp4" -frames:v 1 "$1-first.png"
  }
  still hd "testsrc2=size=1920x1080:rate=25,loop=loop=-1:size=1"
  # Test pattern under fine noise: a JPEG of it is far larger than the first capture buffer.
  still uhd "testsrc2=size=3840x2160:rate=25,noise=alls=30:allf=u,loop=loop=-1:size=1"
  echo ready >media.stamp
  exit 0
fi

# The engine tests'. Every clip: 150 frames of test pattern at 25 fps, a key frame every 25
# frames, B-frames on.
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

# MPEG-2 video as broadcast and DVD-era recorders write it, in a transport and a program stream
# (the latter with G.711 sound, a picture a packet and times on key frames only: its order comes
# from the pictures themselves).
[ -s mpeg2.ts ] || ff "${video[@]}" -c:v mpeg2video -g 25 -bf 2 -q:v 4 "${out[@]}" mpeg2.ts
if [ ! -s mpeg2.ps ]; then
  ff -f lavfi -i sine=frequency=440:sample_rate=8000 -t 6 -c:a pcm_alaw -f alaw ps-audio.alaw
  python3 "$here/make-ps.py" mpeg2.ts alaw ps-audio.alaw mpeg2.ps keytimes
  rm -f ps-audio.alaw
fi

# Clips to listen to (SoundTest.cpp): second k sounds 300 + 100·k Hz, at half the full range,
# both streams as long as each other (a frame limit would cut the sound's tail).
tones() { # SECONDS RATE
  echo "aevalsrc=0.5*sin(2*PI*(300+100*floor(t))*t):s=$2:d=$1"
}
listened() { # NAME SECONDS RATE CODEC...
  [ -s "$1" ] || ff -f lavfi -i "testsrc=size=320x240:rate=25:duration=$2" \
    -f lavfi -i "$(tones "$2" "$3")" "${x264[@]}" -pix_fmt yuv420p "${@:4}" "$1"
}
listened listen_aac.mp4 10 48000 -c:a aac -b:a 128k
[ -s listen_aac.ts ] || ff -i listen_aac.mp4 -c copy listen_aac.ts
# The same tones across a forward and a backward jump of the stamps (seconds 0-4 and 5-9
# recorded apart), and with sound from second 2 to 7 only, in its place.
listenedPart() { # NAME FIRST_SECOND STAMP_OFFSET
  ff -f lavfi -i "testsrc=size=320x240:rate=25:duration=5" \
    -f lavfi -i "aevalsrc=0.5*sin(2*PI*(300+100*floor(t+$2))*t):s=48000:d=5" "${x264[@]}" \
    -pix_fmt yuv420p -c:a aac -b:a 128k -f mpegts -output_ts_offset "$3" "$1"
}
if [ ! -s listen_join_back.ts ]; then
  listenedPart join-a.ts 0 100
  listenedPart join-b.ts 5 1900
  cat join-a.ts join-b.ts >listen_join_forward.ts
  listenedPart join-a.ts 0 3100
  listenedPart join-b.ts 5 100
  cat join-a.ts join-b.ts >listen_join_back.ts
  rm -f join-a.ts join-b.ts
fi
listened listen_late.mp4 10 48000 -filter_complex "[1:a]atrim=2:7,asetpts=PTS-STARTPTS+2/TB[a]" \
  -map 0:v -map "[a]" -c:a aac -b:a 128k
# Four seconds of each sound codec in each container recorders write it in. The ffmpeg tool
# writes AAC-LATM into transport streams only, and G.726 into Matroska big-endian only.
heard() { # NAME RATE CODEC...
  listened "$1" 4 "${@:2}"
}
for ext in ts mp4 mkv; do
  heard "heard_aac.$ext" 48000 -c:a aac
  heard "heard_mp2.$ext" 48000 -c:a mp2
  heard "heard_mp3.$ext" 48000 -c:a libmp3lame
  heard "heard_ac3.$ext" 48000 -c:a ac3
done
heard heard_latm.ts 48000 -c:a aac -mpegts_flags latm
for law in alaw mulaw; do
  heard "heard_$law.avi" 8000 -c:a "pcm_$law"
  heard "heard_$law.mov" 8000 -c:a "pcm_$law"
  if [ ! -s "heard_$law.ps" ]; then
    ff -f lavfi -i testsrc=size=320x240:rate=25:duration=4 "${x264[@]}" -pix_fmt yuv420p \
      -f mpegts ps-video.ts
    ff -f lavfi -i "$(tones 4 8000)" -c:a "pcm_$law" -f "$law" ps-audio.g711
    python3 "$here/make-ps.py" ps-video.ts "$law" ps-audio.g711 "heard_$law.ps"
    rm -f ps-video.ts ps-audio.g711
  fi
done
# The tool's AVI muxer writes G.726 as chunks of 0.256 s with a block of one byte, which
# libavformat then times by the byte (262 s a second); recorders write it at a constant 4000
# bytes a second, as this header says once patched.
if [ ! -s heard_g726.avi ]; then
  heard heard_g726-vbr.avi 8000 -c:a g726 -b:a 32k
  python3 - heard_g726-vbr.avi heard_g726.avi <<'PY'
import struct, sys
d = bytearray(open(sys.argv[1], "rb").read())
strh = d.find(b"auds")
movi = range(d.find(b"movi"), d.find(b"idx1"))
audio = sum(struct.unpack("<I", d[i + 4:i + 8])[0] for i in movi if d[i:i + 4] == b"01wb")
struct.pack_into("<II", d, strh + 20, 1, 4000)  # scale, rate: a unit per byte
struct.pack_into("<I", d, strh + 32, audio)  # length, in units
struct.pack_into("<I", d, strh + 44, 1)  # sample size
open(sys.argv[2], "wb").write(d)
PY
  rm heard_g726-vbr.avi
fi
heard heard_g726.mkv 8000 -c:a g726 -b:a 32k
heard heard_pcm.avi 48000 -c:a pcm_s16le
# Sound that the engine's FFmpeg build does not decode.
heard heard_opus.mkv 48000 -c:a libopus

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
  hevc_g711.mpg h264_mulaw.ps mpeg2.ps mpeg2.ts; do
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

# Recordings that keep their own time, encoded once with the time stamps a recorder gives its
# pictures: 100 at 25 fps, then 60 at one a second; 100 at 25 fps, then 10 at one every 10 s;
# 10 at one a second, then 100 at 25 fps. And single recordings with a 30-minute motion gap:
# 125 + 125 at 25 fps, and 10 + 10 at one a second.
timed() { # OUT FRAMES SETPTS-EXPRESSION (in 25ths of a second)
  [ -s "$1" ] || ff "${video[@]}" -frames:v "$2" -vf "setpts='$3'" -fps_mode passthrough \
    -pix_fmt yuv420p "${x264[@]}" -f mpegts "$1"
}
timed slow_25to1.ts 160 'if(lt(N,100),N,99+25*(N-99))'
timed slow_25to01.ts 110 'if(lt(N,100),N,99+250*(N-99))'
timed fast_1to25.ts 110 'if(lt(N,10),25*N,250+(N-10))'
timed gap_25.ts 250 'if(lt(N,125),N,45125+(N-125))'
timed gap_1.ts 20 'if(lt(N,10),25*N,45250+25*(N-10))'
# A variable-rate MP4 that leaves out pictures 20 to 34 of every 50 (19.96 s).
[ -s vfr.mp4 ] || ff "${video[@]}" -vf "select='not(between(mod(n,50),20,34))'" -frames:v 350 \
  -fps_mode passthrough -pix_fmt yuv420p "${x264[@]}" vfr.mp4
# 20 s of noisy pictures (about 7 KB each, as a camera's) as a TS and as an MP4, and the same
# with 64 KB of random bytes in the middle, as a recorder losing power or a bad sector leaves
# them; in the TS the two pictures after the damage carry garbage time stamps too. The
# undamaged pictures' MD5 sums go to refs/.
mkdir -p refs
[ -s whole.ts ] || ff "${video[@]}" -frames:v 500 -vf noise=alls=12:allf=t -pix_fmt yuv420p \
  "${x264[@]}" whole.ts
[ -s whole.mp4 ] || ff -i whole.ts -c copy whole.mp4
for ext in ts mp4; do
  [ -s "damaged.$ext" ] || python3 - "whole.$ext" "damaged.$ext" <<'PY'
import random, sys
data = bytearray(open(sys.argv[1], "rb").read())
rng = random.Random(25)
middle = len(data) // 2
data[middle:middle + 65536] = bytes(rng.getrandbits(8) for _ in range(65536))
if sys.argv[2].endswith(".ts"):
    damaged = 0
    for i in range((middle + 65536 + 187) // 188 * 188, len(data) - 188, 188):
        pes = i + 4 + (1 + data[i + 4] if data[i + 3] & 0x20 else 0)
        # A video packet that starts a picture with both stamps: both become garbage.
        if data[i + 1] & 0x40 and data[pes:pes + 4] == b"\0\0\1\xe0" and data[pes + 7] & 0xC0 == 0xC0:
            for at in (pes + 9, pes + 14):
                v = rng.getrandbits(33)
                data[at:at + 5] = bytes([data[at] & 0xF0 | (v >> 29) & 0x0E | 1, (v >> 22) & 0xFF,
                                         (v >> 14) & 0xFE | 1, (v >> 7) & 0xFF, (v << 1) & 0xFE | 1])
            damaged += 1
            if damaged == 2:
                break
    else:
        sys.exit("no picture after the damage")
open(sys.argv[2], "wb").write(data)
PY
  [ -s "refs/whole.$ext.md5" ] || ff -i "whole.$ext" -pix_fmt yuv420p -f framemd5 \
    "refs/whole.$ext.md5"
done
pictures slow_25to1.ts 0 99 100 159
pictures slow_25to01.ts 0 99 100 109
pictures fast_1to25.ts 0 9 10 109
pictures gap_25.ts 0 124 125 249
pictures gap_1.ts 0 9 10 19
pictures vfr.mp4 0 19 20 54 55 349

# A short full-HD clip: its snapshots are larger than the buffer hosts usually offer.
[ -s h264_1080p.mp4 ] || ff -f lavfi -i testsrc=size=1920x1080:rate=25 -frames:v 10 \
  -pix_fmt yuv420p -c:v libx264 -preset ultrafast -g 5 h264_1080p.mp4
# Rows of 3,846 bytes, padded to 3,848 in a BMP.
[ -s h264_1282.mp4 ] || ff -f lavfi -i testsrc=size=1282x722:rate=25 -frames:v 5 \
  -pix_fmt yuv420p -c:v libx264 -preset ultrafast h264_1282.mp4

# A recorder switching its profile (sizeChange above).
sizeChange "${x264[@]}" -frames:v 50 -pix_fmt yuv420p

# 24 s to append piece by piece, as a recorder writes it.
[ -s recording.ts ] || ff "${video[@]}" "${x264[@]}" -frames:v 600 -pix_fmt yuv420p recording.ts
mkdir -p refs
[ -s refs/recording.ts.md5 ] || ff -i recording.ts -pix_fmt yuv420p -f framemd5 refs/recording.ts.md5

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
