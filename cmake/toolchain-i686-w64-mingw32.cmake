# The product build: 32-bit Launcher.exe.
set(LAUNCHER_TRIPLE i686-w64-mingw32)
set(LAUNCHER_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
