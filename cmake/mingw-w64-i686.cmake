# 32-bit Windows (Windows 7 and later on any x86 with SSE2), cross-built with
# g++-mingw-w64-i686-posix; its tests run under Wine's 32-bit side.
set(TRIO_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
