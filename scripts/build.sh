#!/usr/bin/env bash
# Bootstrap, configure and build. Usage: scripts/build.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
build="${1:-$top/build}"

bash "$here/bootstrap.sh"

ffmpeg_root=""
if [ -f "$here/deps/ffmpeg.sh" ]; then
  ffmpeg_root=$(bash "$here/deps/ffmpeg.sh" --prefix)
fi
cmake -S "$top" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DACE_ROOT="$(bash "$here/deps/ace.sh" --prefix)" \
  -DLOG4CPLUS_ROOT="$(bash "$here/deps/log4cplus.sh" --prefix)" \
  -DFFMPEG_ROOT="$ffmpeg_root" >/dev/null
cmake --build "$build" -j "$(nproc)"
