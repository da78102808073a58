# Loaded by the "fuzz" preset after the launcher's project() call: reads
# tests/fuzz/CMakeLists.txt once the top level has defined the cores.
set(LAUNCHER_FUZZ_DIR ${CMAKE_CURRENT_LIST_DIR})
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR}
               CALL include ${LAUNCHER_FUZZ_DIR}/CMakeLists.txt)
