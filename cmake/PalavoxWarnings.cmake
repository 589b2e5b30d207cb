# Warnings for Palavox's own targets only, never for a project that builds us:
#   palavox_target_warnings(<target>...)
# Errors on warnings only with PALAVOX_WERROR, which the presets turn on.
# The flags are those of cmake/PalavoxSources.json, which the Python sdist uses too.
function(palavox_target_warnings)
  palavox_listed("" warnings flags)
  foreach(target IN LISTS ARGN)
    if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
      target_compile_options(${target} PRIVATE "$<$<COMPILE_LANGUAGE:C,CXX>:${flags}>")
      if(PALAVOX_WERROR)
        target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:C,CXX>:-Werror>)
      endif()
    endif()
  endforeach()
endfunction()
