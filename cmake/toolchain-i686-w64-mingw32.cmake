# Cross-build for 32-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(PALAVOX_MINGW_TRIPLE i686-w64-mingw32)
# The win32 threading flavour needs no libwinpthread-1.dll beside the DLL.
set(CMAKE_C_COMPILER ${PALAVOX_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${PALAVOX_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${PALAVOX_MINGW_TRIPLE}-windres)
# Every 32-bit Windows still in use has SSE2; without it the text scans fall
# back to their plain loops.
set(CMAKE_CXX_FLAGS_INIT "-msse2")

set(CMAKE_FIND_ROOT_PATH /usr/${PALAVOX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
