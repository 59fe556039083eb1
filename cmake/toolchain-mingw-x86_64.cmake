# Cross build of the Windows executables with Debian's mingw-w64 compilers
# (x86_64).  Use:  cmake -S . -B build-win-x86_64 \
#                -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
set(TOOLS_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
