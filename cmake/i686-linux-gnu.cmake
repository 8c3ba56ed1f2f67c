# Debian's i386 (32-bit x86) port, cross-built with g++-i686-linux-gnu.
set(TRIO_CROSS_TRIPLET i686-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
