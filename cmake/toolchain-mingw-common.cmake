# Shared part of the mingw-w64 toolchains; TOOLS_MINGW_TRIPLET names the
# compiler prefix (x86_64-w64-mingw32 or i686-w64-mingw32).
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${TOOLS_MINGW_TRIPLET})

# The win32 thread model variant: its runtime needs no threads DLL.
find_program(CMAKE_CXX_COMPILER NAMES ${TOOLS_MINGW_TRIPLET}-g++-win32 ${TOOLS_MINGW_TRIPLET}-g++
             REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${TOOLS_MINGW_TRIPLET}-gcc-win32 ${TOOLS_MINGW_TRIPLET}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${TOOLS_MINGW_TRIPLET}-windres)
find_program(CMAKE_DLLTOOL NAMES ${TOOLS_MINGW_TRIPLET}-dlltool)
find_program(TOOLS_WINDMC NAMES ${TOOLS_MINGW_TRIPLET}-windmc)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOLS_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No extra runtime DLLs beside the executables.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# GoogleTest is not built for this target: the tests run from the Linux side.
set(TOOLS_BUILD_TESTS OFF CACHE BOOL "Build the tests" FORCE)
