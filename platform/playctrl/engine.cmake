# Our PlayCtrl.dll on FFmpeg.

set(_engine_sources
  src/AudioOut.cpp
  src/DisplayOrder.cpp
  src/Exports.cpp
  src/FrameCache.cpp
  src/FrameIndex.cpp
  src/MediaInput.cpp
  src/Player.cpp
  src/PortTable.cpp
  src/Positioner.cpp
  src/PresentationClock.cpp
  src/Presenter.cpp
  src/Snapshot.cpp
  src/VideoDecoder.cpp)
list(TRANSFORM _engine_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)

add_library(playctrl_engine SHARED ${_engine_sources} ${CMAKE_CURRENT_LIST_DIR}/PlayCtrl.def)
set_target_properties(playctrl_engine PROPERTIES OUTPUT_NAME PlayCtrl PREFIX "")
target_include_directories(playctrl_engine PRIVATE ${CMAKE_CURRENT_LIST_DIR}/include
                                                   ${CMAKE_CURRENT_LIST_DIR}/src)
target_compile_definitions(playctrl_engine PRIVATE PLAYM4_BUILDING_ENGINE)
target_link_libraries(playctrl_engine PRIVATE ffmpeg::ffmpeg gdi32 user32 winmm)
# Its runtime goes back at a dynamic unload; without an entry point of its own, the plain one.
target_sources(playctrl_engine PRIVATE ${KESTRAVA_PLAIN_DLLMAIN})
target_link_libraries(playctrl_engine PRIVATE kestrava_runtime_release)
target_link_options(playctrl_engine PRIVATE -Wl,--kill-at)
