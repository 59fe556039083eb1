# Cross build of the Windows executables with Debian's mingw-w64 compilers
# (i686).  Use:  cmake -S . -B build-win-i686 \
#                -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
set(TOOLS_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
