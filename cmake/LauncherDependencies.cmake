# The static libraries scripts/bootstrap builds into the dependency prefix.

find_package(CURL CONFIG REQUIRED)          # CURL::libcurl, with CURL_STATICLIB and its system libraries
find_package(GTest CONFIG REQUIRED)         # GTest::gtest, GTest::gmock

find_path(ZLIB_INCLUDE_DIR zlib.h REQUIRED)
find_library(ZLIB_LIBRARY NAMES z REQUIRED)
find_library(MINIZIP_LIBRARY NAMES minizip REQUIRED)
find_library(PNG_LIBRARY NAMES png16 png REQUIRED)
find_path(PNG_INCLUDE_DIR png.h REQUIRED)

add_library(deps_zlib STATIC IMPORTED GLOBAL)
set_target_properties(deps_zlib PROPERTIES
  IMPORTED_LOCATION ${ZLIB_LIBRARY} INTERFACE_INCLUDE_DIRECTORIES ${ZLIB_INCLUDE_DIR})

add_library(deps_minizip STATIC IMPORTED GLOBAL)
set_target_properties(deps_minizip PROPERTIES
  IMPORTED_LOCATION ${MINIZIP_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${ZLIB_INCLUDE_DIR}/minizip
  INTERFACE_LINK_LIBRARIES deps_zlib)

add_library(deps_png STATIC IMPORTED GLOBAL)
set_target_properties(deps_png PROPERTIES
  IMPORTED_LOCATION ${PNG_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${PNG_INCLUDE_DIR}
  INTERFACE_LINK_LIBRARIES deps_zlib)
