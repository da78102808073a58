# libdeflate, for its CRC-32 (PCLMUL/AVX where the processor has them), as the
# target deps_deflate: for Windows the static library scripts/bootstrap builds
# into the dependency prefix, natively Debian's libdeflate-dev.
if(WIN32)
  find_path(DEFLATE_INCLUDE_DIR libdeflate.h REQUIRED)
  find_library(DEFLATE_LIBRARY NAMES deflate REQUIRED)
  add_library(deps_deflate STATIC IMPORTED GLOBAL)
  set_target_properties(deps_deflate PROPERTIES
    IMPORTED_LOCATION ${DEFLATE_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${DEFLATE_INCLUDE_DIR})
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET GLOBAL libdeflate)
  add_library(deps_deflate INTERFACE IMPORTED GLOBAL)
  set_target_properties(deps_deflate PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::DEFLATE)
endif()
