# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads, so
# std::thread and std::mutex work). The runtime is linked in statically:
# vzr.exe runs on a clean Windows with nothing beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VZR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VZR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VZR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VZR_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VZR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# Programs built here run under wine when a test runs them on Linux.
find_program(VZR_WINE wine)
if(VZR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VZR_WINE})
endif()
