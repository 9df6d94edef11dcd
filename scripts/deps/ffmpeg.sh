#!/usr/bin/env bash
# FFmpeg for the player engine: a minimal static build for MinGW from Debian's source.
# Usage: ffmpeg.sh            build once (cached by the recipe's hash)
#        ffmpeg.sh --prefix   print where the build lives
set -euo pipefail
source "$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/common.sh"

build_ffmpeg() {
  local work=$1 prefix=$2
  fetch_source libavcodec-dev "$work/ffmpeg"
  cd "$work/ffmpeg"
  local cpu=(--arch=x86 --cpu=i686)
  if [ "$KESTRAVA_CPU" = x86_64 ]; then
    cpu=(--arch=x86_64)
  fi
  # --disable-autodetect keeps host libraries (zlib, iconv, SDL …) out of the Windows build.
  ./configure \
    --prefix="$prefix" \
    --enable-cross-compile "${cpu[@]}" --target-os=mingw32 \
    --cross-prefix="$KESTRAVA_TRIPLE-" \
    --cc="$KESTRAVA_TRIPLE-gcc-posix" --cxx="$KESTRAVA_TRIPLE-g++-posix" \
    --pkg-config=false --x86asmexe=nasm \
    --enable-static --disable-shared --disable-autodetect \
    --enable-w32threads --disable-pthreads \
    --disable-programs --disable-doc --disable-debug --disable-network \
    --disable-avdevice --disable-avfilter --disable-postproc \
    --disable-everything \
    --enable-protocol=file \
    --enable-demuxer=mov,matroska,avi,mpegps,mpegts,h264,hevc,g726,g726le \
    --enable-decoder=h264,hevc,mpeg4,mjpeg,mpeg1video,mpeg2video,aac,aac_latm,mp2,mp2float,mp3,mp3float,ac3,eac3,adpcm_g726,adpcm_g726le,pcm_s16le,pcm_s16be,pcm_u8,pcm_s24le,pcm_s32le,pcm_f32le,pcm_alaw,pcm_mulaw,pcm_dvd \
    --enable-encoder=mjpeg,bmp \
    --enable-parser=h264,hevc,mpeg4video,mpegvideo,mjpeg,aac,aac_latm,ac3,mpegaudio \
    --enable-swscale --enable-swresample
  make -j2
  make install
}

if [ "${1:-}" = "--prefix" ]; then
  dep_prefix ffmpeg
  exit 0
fi
dep_build ffmpeg build_ffmpeg
