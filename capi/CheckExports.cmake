# cmake -DOBJDUMP=<objdump> -DLIBRARY=<file> [-DSONAME=<name>] -P CheckExports.cmake
# Fails unless a shared library exports exactly the C interface: on ELF every
# defined dynamic symbol, on PE every name of the export table.
foreach(var OBJDUMP LIBRARY)
  if(NOT ${var})
    message(FATAL_ERROR "usage: cmake -DOBJDUMP=… -DLIBRARY=… [-DSONAME=…] -P CheckExports.cmake")
  endif()
endforeach()
set(expected
  palavox_error_description palavox_find_string palavox_find_string_many
  palavox_find_string_stream palavox_find_string_utf8 palavox_free
  palavox_remover_acentuacao palavox_remover_acentuacao_into palavox_remover_acentuacao_stream
  palavox_remover_acentuacao_utf8 palavox_remover_acentuacao_utf8_into
  palavox_stream_end palavox_stream_end_count palavox_stream_free palavox_stream_offset
  palavox_stream_step
  palavox_trata_html palavox_trata_html_into palavox_trata_html_stream
  palavox_trata_html_utf8 palavox_trata_html_utf8_into palavox_version)

get_filename_component(name ${LIBRARY} NAME)
execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "check-exports: ${OBJDUMP} -p ${LIBRARY} failed")
endif()
string(REPLACE ";" "," headers "${headers}")
string(REPLACE "\n" ";" header_lines "${headers}")
set(exported "")
if(headers MATCHES "Export Address Table")
  # The [Ordinal/Name Pointer] Table, up to the blank line that ends it.
  set(inside OFF)
  foreach(line IN LISTS header_lines)
    if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
      set(inside ON)
    elseif(inside AND line MATCHES "^[ \t]*$")
      break()
    elseif(inside AND line MATCHES "^[ \t]*\\[[ \t]*[0-9]+\\][ \t]+([^ \t]+)")
      list(APPEND exported ${CMAKE_MATCH_1})
    endif()
  endforeach()
else()
  execute_process(COMMAND ${OBJDUMP} -T ${LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "check-exports: ${OBJDUMP} -T ${LIBRARY} failed")
  endif()
  string(REPLACE "\n" ";" symbol_lines "${symbols}")
  # Defined dynamic symbols (not *UND*), global, weak or unique; the name is the last field.
  foreach(line IN LISTS symbol_lines)
    if(line MATCHES "\\*UND\\*")
      continue()
    endif()
    if(line MATCHES "^[0-9a-fA-F]+ [gwu]" AND line MATCHES "([^ \t]+)$")
      list(APPEND exported ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(SONAME)
    string(REGEX MATCH "SONAME[ \t]+([^ \t\n,;]+)" found "${headers}")
    if(NOT CMAKE_MATCH_1 STREQUAL SONAME)
      message(FATAL_ERROR "check-exports: ${name} has SONAME '${CMAKE_MATCH_1}', expected '${SONAME}'")
    endif()
  endif()
endif()
list(SORT exported)
list(REMOVE_DUPLICATES exported)
if(NOT exported STREQUAL expected)
  set(extra ${exported})
  list(REMOVE_ITEM extra ${expected})
  set(missing ${expected})
  if(exported)
    list(REMOVE_ITEM missing ${exported})
  endif()
  message(FATAL_ERROR "check-exports: ${name} exports other than the C interface:"
                      " extra [${extra}], missing [${missing}]")
endif()
list(LENGTH exported count)
if(SONAME)
  set(soname_note ", SONAME ${SONAME}")
endif()
message(STATUS "check-exports: ${name}: ${count} palavox_* exports${soname_note}")
