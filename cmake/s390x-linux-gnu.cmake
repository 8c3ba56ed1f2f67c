# Debian's s390x (64-bit, big-endian) port, cross-built with g++-s390x-linux-gnu.
set(TRIO_CROSS_TRIPLET s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
