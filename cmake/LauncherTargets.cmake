# Settings every target of the launcher's own code shares.

set(LAUNCHER_WARNING_FLAGS -Wall -Wextra)
if(LAUNCHER_WERROR)
  list(APPEND LAUNCHER_WARNING_FLAGS -Werror)
endif()

# launcher_defaults(<target>): warnings, the repository root as include root,
# and the Windows definitions the code is written for.
function(launcher_defaults target)
  target_compile_options(${target} PRIVATE ${LAUNCHER_WARNING_FLAGS})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
  if(WIN32)
    target_compile_definitions(${target} PUBLIC
      _WIN32_WINNT=0x0601 WINVER=0x0601 NOMINMAX CURL_STATICLIB)
  endif()
endfunction()

# launcher_static_exe(<target>): a Windows program that needs no DLL beside it.
function(launcher_static_exe target)
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# launcher_add_test(<name> SOURCES ... LIBS ... [TIMEOUT s] [LABELS ...] [ENV k=v ...])
# One test program, registered with ctest as one test. On Windows targets ctest
# runs it through the tree's emulator: wine64 (scripts/wine-run) for x86_64,
# Wine's 32-bit loader (scripts/wine-run32) for i686.
function(launcher_add_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  launcher_defaults(${name})
  launcher_static_exe(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${T_LABELS}")
  if(T_ENV)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${T_ENV}")
  endif()
endfunction()
