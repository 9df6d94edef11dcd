# Imported targets for the libraries built for MinGW by the bootstrap. A root left empty
# leaves its target out, so parts of the tree build before every dependency exists.

# ACE would otherwise rename every main() that sees its headers to run its object manager; we
# use only its mutex, which needs none.
if(ACE_ROOT AND EXISTS ${ACE_ROOT}/lib/libACE.a)
  add_library(ace::ace STATIC IMPORTED GLOBAL)
  set_target_properties(ace::ace PROPERTIES
    IMPORTED_LOCATION ${ACE_ROOT}/lib/libACE.a
    INTERFACE_INCLUDE_DIRECTORIES ${ACE_ROOT}/include
    INTERFACE_COMPILE_DEFINITIONS "ACE_AS_STATIC_LIBS;ACE_DOESNT_INSTANTIATE_NONSTATIC_OBJECT_MANAGER"
    INTERFACE_LINK_LIBRARIES "ws2_32;iphlpapi;mswsock;netapi32")
endif()

if(LOG4CPLUS_ROOT)
  file(GLOB _log4cplus_lib ${LOG4CPLUS_ROOT}/lib/liblog4cplus*.a)
  if(_log4cplus_lib)
    list(GET _log4cplus_lib 0 _log4cplus_lib)
    add_library(log4cplus::log4cplus STATIC IMPORTED GLOBAL)
    set_target_properties(log4cplus::log4cplus PROPERTIES
      IMPORTED_LOCATION ${_log4cplus_lib}
      INTERFACE_INCLUDE_DIRECTORIES ${LOG4CPLUS_ROOT}/include
      INTERFACE_COMPILE_DEFINITIONS "LOG4CPLUS_STATIC"
      INTERFACE_LINK_LIBRARIES "ws2_32;advapi32")
  endif()
endif()

include(${CMAKE_CURRENT_LIST_DIR}/FFmpeg.cmake OPTIONAL)
