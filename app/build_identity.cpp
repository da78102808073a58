// Compiled into each program on its own, so that two programs of one tree can
// carry different identities (LAUNCHER_BUILD_IDENTITY, set by the build).
#include "app/build_identity.h"

#ifndef LAUNCHER_BUILD_IDENTITY
#define LAUNCHER_BUILD_IDENTITY "launcher"
#endif

namespace app {

const char* BuildIdentity() { return LAUNCHER_BUILD_IDENTITY; }

}  // namespace app
