#!/usr/bin/env bash
# Bootstrap, configure and build. Usage: scripts/build.sh [BUILD_DIR [TARGET...]]
# (default: build, every target)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
top="$(cd "$here/.." && pwd)"
build="$(mkdir -p "${1:-$top/build}" && cd "${1:-$top/build}" && pwd)"

bash "$here/bootstrap.sh"

cmake -S "$top" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DACE_ROOT="$(bash "$here/deps/ace.sh" --prefix)" \
  -DLOG4CPLUS_ROOT="$(bash "$here/deps/log4cplus.sh" --prefix)" \
  -DFFMPEG_ROOT="$(bash "$here/deps/ffmpeg.sh" --prefix)" >/dev/null
targets=("${@:2}")
cmake --build "$build" -j "$(nproc)" ${targets[@]:+--target "${targets[@]}"}
