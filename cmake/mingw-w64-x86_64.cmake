# 64-bit Windows, cross-built with g++-mingw-w64-x86-64-posix.
set(TRIO_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
