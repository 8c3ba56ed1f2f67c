# Cross-building Windows programs with Debian's MinGW-w64 toolchain for TRIO_MINGW_TRIPLET (the
# posix thread model, for std::thread and friends); tests built here run under Wine (the one that
# scripts/wine.sh picks: tests/CMakeLists.txt). Included by each toolchain file, which names the triplet.
set(CMAKE_SYSTEM_NAME Windows)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR ${TRIO_MINGW_TRIPLET})
set(CMAKE_C_COMPILER ${TRIO_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRIO_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${TRIO_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TRIO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
