# Cross-build for 64-bit Windows with MinGW-w64 (posix thread model); run under Wine in a win64
# prefix.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KESTRAVA_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
