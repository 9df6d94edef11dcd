#!/usr/bin/env bash
# Bootstrap, configure and build both architectures: 32-bit into BUILD_DIR, 64-bit into
# BUILD_DIR64 (build and build64 by default). --arch 32 or --arch 64 builds only that one.
# Usage: scripts/build.sh [--arch 32|64] [BUILD_DIR [TARGET...]]   (default: every target)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
archs=(32 64)
if [ "${1:-}" = --arch ]; then
  archs=("$2")
  shift 2
fi
base="$(mkdir -p "${1:-$top/build}" && cd "${1:-$top/build}" && pwd)"
targets=("${@:2}")

bash "$here/bootstrap.sh"

for arch in "${archs[@]}"; do
  case "$arch" in
    32) build="$base" toolchain=mingw-i686.cmake peer=() ;;
    64) build="${base%/}64" toolchain=mingw-x86_64.cmake peer=(-DKESTRAVA_BUILD32_DIR="$base") ;;
    *)
      echo "build.sh: --arch takes 32 or 64" >&2
      exit 2
      ;;
  esac
  build="$(mkdir -p "$build" && cd "$build" && pwd)"
  export KESTRAVA_ARCH=$arch
  cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DACE_ROOT="$(bash "$here/deps/ace.sh" --prefix)" \
    -DLOG4CPLUS_ROOT="$(bash "$here/deps/log4cplus.sh" --prefix)" \
    -DFFMPEG_ROOT="$(bash "$here/deps/ffmpeg.sh" --prefix)" "${peer[@]}" >/dev/null
  cmake --build "$build" -j "$(nproc)" ${targets[@]:+--target "${targets[@]}"}
done
