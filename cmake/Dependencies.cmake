# Imported targets for the libraries built for MinGW by the bootstrap. Each one is required:
# configuring stops with a message naming the recipe that provides what is missing.
function(kestrava_require_dependency root file recipe)
  if(NOT ${root} OR NOT EXISTS ${${root}}/${file})
    message(FATAL_ERROR "${root}='${${root}}' holds no ${file}. Build it with "
                        "scripts/deps/${recipe}.sh and pass the folder that "
                        "'scripts/deps/${recipe}.sh --prefix' prints, or use scripts/build.sh.")
  endif()
endfunction()

# ACE would otherwise rename every main() that sees its headers to run its object manager; we
# use only its mutex, which needs none.
kestrava_require_dependency(ACE_ROOT lib/libACE.a ace)
add_library(ace::ace STATIC IMPORTED GLOBAL)
set_target_properties(ace::ace PROPERTIES
  IMPORTED_LOCATION ${ACE_ROOT}/lib/libACE.a
  INTERFACE_INCLUDE_DIRECTORIES ${ACE_ROOT}/include
  INTERFACE_COMPILE_DEFINITIONS "ACE_AS_STATIC_LIBS;ACE_DOESNT_INSTANTIATE_NONSTATIC_OBJECT_MANAGER"
  INTERFACE_LINK_LIBRARIES "ws2_32;iphlpapi;mswsock;netapi32")

kestrava_require_dependency(LOG4CPLUS_ROOT include/log4cplus/logger.h log4cplus)
file(GLOB _log4cplus_lib ${LOG4CPLUS_ROOT}/lib/liblog4cplus*.a)
if(NOT _log4cplus_lib)
  message(FATAL_ERROR "${LOG4CPLUS_ROOT}/lib holds no liblog4cplus*.a: rebuild it with "
                      "scripts/deps/log4cplus.sh")
endif()
list(GET _log4cplus_lib 0 _log4cplus_lib)
add_library(log4cplus::log4cplus STATIC IMPORTED GLOBAL)
set_target_properties(log4cplus::log4cplus PROPERTIES
  IMPORTED_LOCATION ${_log4cplus_lib}
  INTERFACE_INCLUDE_DIRECTORIES ${LOG4CPLUS_ROOT}/include
  INTERFACE_COMPILE_DEFINITIONS "LOG4CPLUS_STATIC"
  INTERFACE_LINK_LIBRARIES "ws2_32;advapi32")

kestrava_require_dependency(FFMPEG_ROOT lib/libavformat.a ffmpeg)
include(${CMAKE_CURRENT_LIST_DIR}/FFmpeg.cmake)
