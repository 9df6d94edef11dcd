# Kestrava.DLL, the in-process server.
set(_server ${CMAKE_CURRENT_LIST_DIR})

# The registry-script reader and applier; the reader alone also builds natively for fuzzing.
add_library(kestrava_registry STATIC ${_server}/RegistryScript.cpp ${_server}/RegistryApplier.cpp)
target_include_directories(kestrava_registry PUBLIC ${_server})
target_link_libraries(kestrava_registry PUBLIC advapi32 PRIVATE kestrava_com)

kestrava_def(_kestrava_def ${_server}/Kestrava.def)
add_library(Kestrava SHARED
  ${_server}/Exports.cpp ${_server}/Module.cpp ${_server}/ClassFactory.cpp
  ${_server}/TypeInfoCache.cpp ${_server}/Registration.cpp ${_server}/KestravaClass.cpp
  ${_server}/Kestrava.rc ${_kestrava_def})
set_target_properties(Kestrava PROPERTIES
  OUTPUT_NAME Kestrava PREFIX "" SUFFIX .DLL
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
add_dependencies(Kestrava kestrava_idl_gen)
target_link_libraries(Kestrava PRIVATE kestrava_player kestrava_registry kestrava_runtime_release kestrava_idl ole32 oleaut32
                                       uuid)
# windres finds TYPELIB and REGISTRY files through the include path.
get_filename_component(_tlb_dir ${KESTRAVA_TLB} DIRECTORY)
target_include_directories(Kestrava PRIVATE ${_tlb_dir} ${_server})
kestrava_version_resource(Kestrava Kestrava.DLL "Kestrava Module" SELF_REGISTER INCLUDED)
target_include_directories(Kestrava PRIVATE ${CMAKE_BINARY_DIR}/version)
set_source_files_properties(${_server}/Kestrava.rc PROPERTIES
  OBJECT_DEPENDS "${KESTRAVA_TLB};${_server}/Kestrava.rgs;${CMAKE_BINARY_DIR}/version/Kestrava.version.rc")

# A copy beside the test doubles, for COM-level tests with scripted SDK results.
add_custom_command(TARGET Kestrava POST_BUILD
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin/doubles
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:Kestrava> ${CMAKE_BINARY_DIR}/bin/doubles/
  VERBATIM)
