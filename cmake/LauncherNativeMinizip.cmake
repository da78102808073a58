# minizip for the native builds, compiled from the same zlib source that
# scripts/bootstrap builds for the Windows targets (zlib's contrib/minizip),
# over the system's zlib. Debian's separate minizip package is an older
# minizip whose 64-bit builds skip every zip64 field of a central header (it
# compares them with an unsigned long -1) and whose writer never writes the
# zip64 end records for more than 65,535 entries; one minizip for every build
# means the pack tool and the cores read and write ZIP the same way natively
# and on Windows.
find_package(ZLIB REQUIRED)
set(LAUNCHER_ZLIB_SOURCE "" CACHE PATH "Debian's unpacked zlib source (scripts/bootstrap fetches it)")
if(NOT LAUNCHER_ZLIB_SOURCE)
  file(GLOB launcher_zlib_candidates LIST_DIRECTORIES true ${PROJECT_SOURCE_DIR}/.cache/src/zlib-*)
  foreach(candidate ${launcher_zlib_candidates})
    if(IS_DIRECTORY ${candidate})
      set(LAUNCHER_ZLIB_SOURCE ${candidate})
    endif()
  endforeach()
endif()
set(launcher_minizip_dir ${LAUNCHER_ZLIB_SOURCE}/contrib/minizip)
if(NOT EXISTS ${launcher_minizip_dir}/unzip.c)
  message(FATAL_ERROR "No zlib source with contrib/minizip under .cache/src: run scripts/bootstrap")
endif()

add_library(deps_minizip STATIC ${launcher_minizip_dir}/ioapi.c ${launcher_minizip_dir}/unzip.c
            ${launcher_minizip_dir}/zip.c)
target_include_directories(deps_minizip SYSTEM PUBLIC ${launcher_minizip_dir})
target_compile_definitions(deps_minizip PRIVATE NOCRYPT NOUNCRYPT)
target_compile_options(deps_minizip PRIVATE -w)
set_target_properties(deps_minizip PROPERTIES POSITION_INDEPENDENT_CODE ON)
target_link_libraries(deps_minizip PUBLIC ZLIB::ZLIB)
