# Cross-build for 32-bit Windows with MinGW-w64 (posix thread model); run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KESTRAVA_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
