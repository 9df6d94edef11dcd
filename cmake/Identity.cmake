# Who the component is, in one place: the version resources and the assembly manifest are made
# from these, and the IDL and the registry script are checked against them at every build.
set(KESTRAVA_VERSION 1.0.0.1)
set(KESTRAVA_CLSID 5428B9E4-1807-4443-B436-6D1C33BDEB62)
set(KESTRAVA_LIBID AE8D5F57-91E0-4FB2-8FF8-E967A158A807)
set(KESTRAVA_TYPELIB_VERSION 1.0)
set(KESTRAVA_PROGID Kestrava.KestravaCOM)
set(KESTRAVA_PROGID_VERSIONED Kestrava.KestravaCOM.1)
# The side-by-side assembly: its name is also the folder a host may keep it in.
set(KESTRAVA_ASSEMBLY Kestrava.Component)

string(REPLACE "." ", " KESTRAVA_VERSION_TEXT "${KESTRAVA_VERSION}")
string(REPLACE "." "," KESTRAVA_VERSION_COMMAS "${KESTRAVA_VERSION}")

# kestrava_version_resource(<target> <file name> <description> [SELF_REGISTER]): the version
# block every DLL of ours carries, of one form; Kestrava.rc includes its own instead.
function(kestrava_version_resource target file description)
  get_filename_component(KESTRAVA_INTERNAL_NAME ${file} NAME_WE)
  set(KESTRAVA_ORIGINAL_FILENAME ${file})
  set(KESTRAVA_FILE_DESCRIPTION "${description}")
  set(KESTRAVA_SELF_REGISTER "")
  if("SELF_REGISTER" IN_LIST ARGN)
    set(KESTRAVA_SELF_REGISTER "VALUE \"OLESelfRegister\", \"\"")
  endif()
  set(_rc ${CMAKE_BINARY_DIR}/version/${KESTRAVA_INTERNAL_NAME}.version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/VersionInfo.rc.in ${_rc} @ONLY)
  if(NOT "INCLUDED" IN_LIST ARGN)
    target_sources(${target} PRIVATE ${_rc})
  endif()
endfunction()
