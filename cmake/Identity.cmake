# Who the component is, in one place: the version resources and the assembly manifest are made
# from these, and the IDL and the registry script are checked against them at every build.
set(KESTRAVA_VERSION 1.0.0.1)
set(KESTRAVA_CLSID 5428B9E4-1807-4443-B436-6D1C33BDEB62)
set(KESTRAVA_LIBID AE8D5F57-91E0-4FB2-8FF8-E967A158A807)
set(KESTRAVA_TYPELIB_VERSION 1.0)
set(KESTRAVA_PROGID Kestrava.KestravaCOM)
set(KESTRAVA_PROGID_VERSIONED Kestrava.KestravaCOM.1)
# The seven interfaces, NAME=IID, in the IDL's order: the manifest names them for the standard
# automation marshaller, so hosts in any apartment reach them without registration.
set(KESTRAVA_INTERFACES
    IBaseFilePlay=0D0C5ED7-625C-46DD-8E2C-24ED955103D0
    IFileInfo=402B3633-3638-4968-8AE2-98B4218709A0
    IRegionManify=DF272E0B-30D8-4074-854B-0F8F82B94B53
    IPlayFrame=025E7014-1CC7-42E9-9F66-65F4387D5086
    IConvert=9A39DB16-CC3F-4E51-BE8F-35A92E8668D0
    ICapture=8ED2912B-8343-458F-878E-F39F180EBD5D
    IExtendHalvet=E016061C-D38F-4533-8DA8-50C70DCBAD5F)
# The automation marshaller's proxy and stub (PSOAInterface), which reads the type library.
set(KESTRAVA_PROXY_STUB_CLSID 00020424-0000-0000-C000-000000000046)
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
