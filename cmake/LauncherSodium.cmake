# libsodium, the launcher's one crypto library (Ed25519, BLAKE2b, SHA-256), as
# the target deps_sodium: for Windows the static library scripts/bootstrap
# builds into the dependency prefix (its users need SODIUM_STATIC), natively
# Debian's libsodium-dev.
if(WIN32)
  find_path(SODIUM_INCLUDE_DIR sodium.h REQUIRED)
  find_library(SODIUM_LIBRARY NAMES sodium REQUIRED)
  add_library(deps_sodium STATIC IMPORTED GLOBAL)
  set_target_properties(deps_sodium PROPERTIES
    IMPORTED_LOCATION ${SODIUM_LIBRARY}
    INTERFACE_INCLUDE_DIRECTORIES ${SODIUM_INCLUDE_DIR}
    INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
    INTERFACE_LINK_LIBRARIES advapi32)  # its random source, RtlGenRandom
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET GLOBAL libsodium)
  add_library(deps_sodium INTERFACE IMPORTED GLOBAL)
  set_target_properties(deps_sodium PROPERTIES INTERFACE_LINK_LIBRARIES PkgConfig::SODIUM)
endif()
