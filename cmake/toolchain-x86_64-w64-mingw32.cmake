# The tested twin: the same sources built for x86_64, run under wine64.
set(LAUNCHER_TRIPLE x86_64-w64-mingw32)
set(LAUNCHER_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
# ctest runs every test program through the Wine wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR ${LAUNCHER_SOURCE_ROOT}/scripts/wine-run)
