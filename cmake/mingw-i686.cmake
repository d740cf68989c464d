# Cross toolchain: 32-bit Windows (PE32, i386) with MinGW-w64 from Debian.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
