# Cross-compiling for Windows with Debian's mingw-w64 (posix thread model), for
# either triple: -DKQ_MINGW_TRIPLE=i686-w64-mingw32 (the 32-bit product, the
# default) or x86_64-w64-mingw32. The presets win32 and win64 of
# CMakePresets.json set it.
set(KQ_MINGW_TRIPLE "i686-w64-mingw32" CACHE STRING "mingw-w64 target triple")
# try_compile projects read this file again without the cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KQ_MINGW_TRIPLE)

if(KQ_MINGW_TRIPLE STREQUAL "i686-w64-mingw32")
  set(CMAKE_SYSTEM_PROCESSOR i686)
elseif(KQ_MINGW_TRIPLE STREQUAL "x86_64-w64-mingw32")
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
else()
  message(FATAL_ERROR "KQ_MINGW_TRIPLE is ${KQ_MINGW_TRIPLE}: "
                      "expected i686-w64-mingw32 or x86_64-w64-mingw32")
endif()
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${KQ_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KQ_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KQ_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${KQ_MINGW_TRIPLE}-dlltool)
set(CMAKE_OBJDUMP ${KQ_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
