# cmake -DROOT=<source tree> -P check-error-names.cmake
# The error numbers are named once, in palavox.h's enum (which the C interface
# holds to the core's at compile time); every binding that cannot include it
# writes them out again. Fails unless each of those copies names exactly the
# same numbers, 51 included, by the same names in its language's manner.
cmake_policy(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<source tree> -P check-error-names.cmake")
endif()

file(READ ${ROOT}/capi/include/palavox/palavox.h header)
string(REGEX MATCH "typedef enum palavox_error_number {[^}]*}" enum "${header}")
string(REGEX MATCHALL "PALAVOX_[A-Z_]+ = [0-9]+" entries "${enum}")
set(names "")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "PALAVOX_([A-Z_]+) = ([0-9]+)" _ "${entry}")
  if(NOT CMAKE_MATCH_1 STREQUAL "OK")
    list(APPEND names ${CMAKE_MATCH_1})
    set(number_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  endif()
endforeach()
list(LENGTH names count)
if(count LESS 5)
  message(FATAL_ERROR "check-error-names: palavox.h's enum not found or short: [${names}]")
endif()

set(failures "")

# TYPE_MISMATCH -> TypeMismatch
function(camel name out)
  string(TOLOWER "${name}" lower)
  string(REPLACE "_" ";" words "${lower}")
  set(result "")
  foreach(word IN LISTS words)
    string(SUBSTRING "${word}" 0 1 first)
    string(SUBSTRING "${word}" 1 -1 rest)
    string(TOUPPER "${first}" first)
    string(APPEND result "${first}${rest}")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# `file` must hold `pattern` once for each name, with @NAME@ (and @Name@ in
# camel case) and @NUMBER@ filled in, and match `any` (the same pattern for
# any name) no more times than there are names. A ';' of the text reads as
# ',' (CMake's lists would split at it).
function(expect file pattern any)
  file(READ ${ROOT}/${file} text)
  string(REPLACE ";" "," text "${text}")
  foreach(name IN LISTS names)
    camel(${name} camel_name)
    string(REPLACE "@NAME@" "${name}" wanted "${pattern}")
    string(REPLACE "@Name@" "${camel_name}" wanted "${wanted}")
    string(REPLACE "@NUMBER@" "${number_${name}}" wanted "${wanted}")
    string(REGEX MATCHALL "${wanted}" found "${text}")
    list(LENGTH found times)
    if(NOT times EQUAL 1)
      list(APPEND failures "${file}: ${name} (${number_${name}}) found ${times} times")
    endif()
  endforeach()
  string(REGEX MATCHALL "${any}" all "${text}")
  list(LENGTH all times)
  if(NOT times EQUAL count)
    list(APPEND failures "${file}: ${times} names where palavox.h has ${count}")
  endif()
  set(failures "${failures}" PARENT_SCOPE)
endfunction()

expect(bindings/python/src/_palavox/module.c
  "{\"@NAME@\", PALAVOX_@NAME@}" "{\"[A-Z_]+\", PALAVOX_[A-Z_]+}")
expect(bindings/python/src/palavox/_palavox.pyi
  "\n@NAME@: Final = @NUMBER@[ \n]" "\n[A-Z_]+: Final = [0-9]+")
expect(bindings/python/src/palavox/__init__.py
  "import @NAME@ as @NAME@\n" "import [A-Z_]+ as [A-Z_]+\n")
expect(bindings/python/src/palavox/__init__.py
  "\"@NAME@\"" "\"[A-Z][A-Z_]+\"")
expect(bindings/node/lib/api.js
  "[{ ]@NAME@: @NUMBER@[,} ]" "[{ ][A-Z_]+: [0-9]+[,} ]")
expect(bindings/node/index.d.ts
  "static readonly @NAME@: @NUMBER@," "static readonly [A-Z_]+: [0-9]+,")
expect(bindings/dotnet/PalavoxText.cs
  "public const int @Name@ = @NUMBER@," "public const int [A-Za-z]+ = [0-9]+,")

if(failures)
  list(JOIN failures "\n  " report)
  message(FATAL_ERROR "check-error-names: the copies differ from palavox.h:\n  ${report}")
endif()
list(JOIN names ", " listed)
message(STATUS "check-error-names: ${listed} named alike in 7 places")
