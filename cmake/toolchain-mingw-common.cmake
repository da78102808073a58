# Shared part of the two mingw-w64 toolchain files. The including file sets
# LAUNCHER_TRIPLE and LAUNCHER_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${LAUNCHER_PROCESSOR})

# The posix thread model is required: GoogleTest needs std::mutex.
set(CMAKE_C_COMPILER ${LAUNCHER_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LAUNCHER_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${LAUNCHER_TRIPLE}-windres)

get_filename_component(LAUNCHER_SOURCE_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT LAUNCHER_DEPS_PREFIX)
  set(LAUNCHER_DEPS_PREFIX "${LAUNCHER_SOURCE_ROOT}/.cache/deps/${LAUNCHER_TRIPLE}")
endif()

# Libraries, headers and packages come only from the toolchain's sysroot and
# the dependency prefix that scripts/bootstrap fills; programs only from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${LAUNCHER_TRIPLE} ${LAUNCHER_DEPS_PREFIX})
set(CMAKE_PREFIX_PATH ${LAUNCHER_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
