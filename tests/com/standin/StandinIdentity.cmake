# The stand-in for an installed component: identifiers generated for the tests
# once, never Palavox's, under Palavox's ProgID, with a type library version
# and a file version of its own. Tests only: never installed or shipped.
#   include(StandinIdentity.cmake)                  from CMake
#   eval "$(cmake -P tests/com/standin/StandinIdentity.cmake)"   from a shell
set(STANDIN_CLSID 6F507573-0B68-4CA7-B78B-2BE9DE89D828)
set(STANDIN_IID 9EC438D8-AB8D-4B31-8C91-480F3D6DAE3E)
set(STANDIN_ALIAS_IID 4A9339C7-E878-48E2-AADA-ED4DE34CEB1F)
set(STANDIN_LIBID 9AFE5CB8-56FD-41CE-B639-801E120C5A38)
set(STANDIN_TYPELIB_VERSION 4.2)
set(STANDIN_FILE_VERSION 1.4.2.0)

string(REPLACE "." ";" standin_parts ${STANDIN_TYPELIB_VERSION})
list(GET standin_parts 0 STANDIN_TYPELIB_MAJOR)
list(GET standin_parts 1 STANDIN_TYPELIB_MINOR)
string(REPLACE "." "," STANDIN_FILE_VERSION_COMMAS ${STANDIN_FILE_VERSION})
unset(standin_parts)

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  get_cmake_property(standin_names VARIABLES)
  list(FILTER standin_names INCLUDE REGEX "^STANDIN_")
  set(standin_lines "")
  foreach(name IN LISTS standin_names)
    string(APPEND standin_lines "${name}='${${name}}'\n")
  endforeach()
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo_append "${standin_lines}")
endif()
