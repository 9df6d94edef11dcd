include_guard(GLOBAL)
# kestrava_failing_variant(<variant> <real DLL target> <folder>): the real DLL built again from
# its own sources plus an operator new that fails on demand (FailingAllocation.h), under the
# real file name, into <folder>. The shipped DLL stays as it is; only tests load the variant.
function(kestrava_failing_variant variant real folder)
  get_target_property(_dir ${real} SOURCE_DIR)
  get_target_property(_sources ${real} SOURCES)
  list(TRANSFORM _sources PREPEND ${_dir}/ REGEX "^[^/]")
  add_library(${variant} SHARED ${_sources}
              ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/FailingAllocation.cpp)
  target_include_directories(${variant} PRIVATE $<TARGET_PROPERTY:${real},INCLUDE_DIRECTORIES>
                             ${CMAKE_CURRENT_FUNCTION_LIST_DIR})
  target_compile_definitions(${variant} PRIVATE $<TARGET_PROPERTY:${real},COMPILE_DEFINITIONS>)
  get_target_property(_libs ${real} LINK_LIBRARIES)
  if(_libs)
    target_link_libraries(${variant} PRIVATE ${_libs})
  endif()
  get_target_property(_name ${real} OUTPUT_NAME)
  set_target_properties(${variant} PROPERTIES PREFIX "" OUTPUT_NAME ${_name}
                        RUNTIME_OUTPUT_DIRECTORY ${folder}
                        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib/${variant})
endfunction()
