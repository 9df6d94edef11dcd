#!/usr/bin/env bash
# log4cplus for MinGW, from Debian's source package: static, narrow characters, threaded.
# No thread pool: inside a DLL its threads cannot be joined at process detach, and the process
# would hang on exit.
set -euo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

build_log4cplus() {
  local work=$1 prefix=$2
  fetch_source liblog4cplus-dev "$work/src"
  # winpthread gives a mutex its memory at the first lock and takes it back only in
  # pthread_mutex_destroy, which std::mutex and std::recursive_mutex never call: log4cplus's own
  # lock types, made and destroyed with every configuration, call it themselves.
  local impl="$work/src/include/log4cplus/thread/syncprims-pub-impl.h"
  perl -0pi -e 's/^((?:Mutex|Semaphore|ManualResetEvent)::~\w+ \(\)\n)\{ \}/$1\{ LOG4CPLUS_THREADED (pthread_mutex_destroy (mtx.native_handle ())); \}/mg' "$impl"
  [ "$(grep -c 'pthread_mutex_destroy (mtx.native_handle ())' "$impl")" = 3 ]
  cat >"$work/toolchain.cmake" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $KESTRAVA_CPU)
set(CMAKE_C_COMPILER $KESTRAVA_TRIPLE-gcc-posix)
set(CMAKE_CXX_COMPILER $KESTRAVA_TRIPLE-g++-posix)
set(CMAKE_RC_COMPILER $KESTRAVA_TRIPLE-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$KESTRAVA_TRIPLE)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TC
  cmake -S "$work/src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DUNICODE=OFF -DLOG4CPLUS_BUILD_TESTING=OFF \
    -DLOG4CPLUS_BUILD_LOGGINGSERVER=OFF -DLOG4CPLUS_ENABLE_DECORATED_LIBRARY_NAME=OFF \
    -DWITH_UNIT_TESTS=OFF -DLOG4CPLUS_QT4=OFF -DLOG4CPLUS_QT5=OFF \
    -DLOG4CPLUS_ENABLE_THREAD_POOL=OFF
  cmake --build "$work/build" -j "$(nproc)"
  cmake --install "$work/build"
}

if [ "${1:-}" = "--prefix" ]; then
  dep_prefix log4cplus
else
  dep_build log4cplus build_log4cplus
fi
