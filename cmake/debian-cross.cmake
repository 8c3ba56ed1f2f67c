# Cross-building for another of Debian's ports with Debian's cross compiler for it
# (g++-TRIO_CROSS_TRIPLET) and the target's libraries, which it keeps in /usr/TRIO_CROSS_TRIPLET.
# Included by each port's toolchain file, which names the triplet.
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR ${TRIO_CROSS_TRIPLET})
set(CMAKE_CXX_COMPILER ${TRIO_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${TRIO_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
