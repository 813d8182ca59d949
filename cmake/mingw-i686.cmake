# Cross build for 32-bit Windows with Debian's mingw-w64 (posix threads, so
# std::thread and std::mutex work). The C and C++ runtimes and winpthread are
# linked statically: the programs then need nothing beside the system DLLs
# and run in a bare Wine prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KESTRIN_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRIN_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIN_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRIN_MINGW_PREFIX}-windres)
set(CMAKE_AR ${KESTRIN_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KESTRIN_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Tests run the programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# zlib's static libz.a, not its import library libz.dll.a, so that the
# programs need no DLL beside them.
set(ZLIB_USE_STATIC_LIBS ON)
