# Debian's arm64 port, cross-built with g++-aarch64-linux-gnu.
set(TRIO_CROSS_TRIPLET aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
