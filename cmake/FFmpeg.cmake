# FFmpeg built for MinGW by scripts/deps/ffmpeg.sh: static libraries behind one target.
set(_ffmpeg_libs "")
# Static archives link in dependency order: users before what they use.
foreach(lib avformat avcodec swscale swresample avutil)
  add_library(ffmpeg::${lib} STATIC IMPORTED GLOBAL)
  set_target_properties(ffmpeg::${lib} PROPERTIES
    IMPORTED_LOCATION ${FFMPEG_ROOT}/lib/lib${lib}.a
    INTERFACE_INCLUDE_DIRECTORIES ${FFMPEG_ROOT}/include)
  list(APPEND _ffmpeg_libs ffmpeg::${lib})
endforeach()
add_library(ffmpeg::ffmpeg INTERFACE IMPORTED GLOBAL)
set_target_properties(ffmpeg::ffmpeg PROPERTIES
  INTERFACE_LINK_LIBRARIES "${_ffmpeg_libs};bcrypt;ws2_32;secur32;ole32;user32")
