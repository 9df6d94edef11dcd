# Our PlayCtrl.dll on FFmpeg.

set(_engine_sources
  src/base/Errors.cpp
  src/base/ModuleThread.cpp
  src/demux/DisplayOrder.cpp
  src/demux/FrameIndex.cpp
  src/demux/MediaInput.cpp
  src/demux/PacketTimes.cpp
  src/demux/Timeline.cpp
  src/video/DecoderThreads.cpp
  src/video/FrameCache.cpp
  src/video/FrameConverter.cpp
  src/video/Positioner.cpp
  src/video/Presenter.cpp
  src/video/Snapshot.cpp
  src/video/VideoDecoder.cpp
  src/audio/AudioOut.cpp
  src/audio/AudioOutThread.cpp
  src/audio/SoundTrack.cpp
  src/port/Exports.cpp
  src/port/LastError.cpp
  src/port/FrameTimes.cpp
  src/port/PlaybackPacer.cpp
  src/port/Port.cpp
  src/port/PortPositioning.cpp
  src/port/PortTable.cpp
  src/port/PortWait.cpp
  src/port/PortWorker.cpp
  src/port/PresentationClock.cpp
  src/port/Transport.cpp)
list(TRANSFORM _engine_sources PREPEND ${CMAKE_CURRENT_LIST_DIR}/)

# Compiled once, linked twice: the engine, and a test build of it whose allocations fail on
# demand (bin/failing/PlayCtrl.dll, beside the tests that load it).
add_library(playctrl_objects OBJECT ${_engine_sources})
target_include_directories(playctrl_objects PUBLIC ${CMAKE_CURRENT_LIST_DIR}/include
                                                   ${CMAKE_CURRENT_LIST_DIR}/src)
target_compile_definitions(playctrl_objects PUBLIC PLAYM4_BUILDING_ENGINE)
target_link_libraries(playctrl_objects PUBLIC ffmpeg::ffmpeg gdi32 user32 winmm PRIVATE kestrava_win)

add_library(playctrl_engine SHARED ${KESTRAVA_PLAYCTRL_DEF})
add_library(playctrl_failing SHARED EXCLUDE_FROM_ALL
            ${CMAKE_SOURCE_DIR}/tests/support/FailingAllocation.cpp ${KESTRAVA_PLAYCTRL_DEF})
target_include_directories(playctrl_failing PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
set_target_properties(playctrl_failing PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/failing
  ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/failing)
foreach(_dll playctrl_engine playctrl_failing)
  set_target_properties(${_dll} PROPERTIES OUTPUT_NAME PlayCtrl PREFIX "")
  target_link_libraries(${_dll} PRIVATE playctrl_objects)
  # Its runtime goes back at a dynamic unload; without an entry point of its own, the plain one.
  target_sources(${_dll} PRIVATE ${KESTRAVA_PLAIN_DLLMAIN})
  target_link_libraries(${_dll} PRIVATE kestrava_runtime_release)
  target_link_options(${_dll} PRIVATE -Wl,--kill-at)
endforeach()
kestrava_version_resource(playctrl_engine PlayCtrl.dll "Kestrava player engine")
