// libsodium wants sodium_init before its first use; it is cheap once done and
// safe from any thread. Every user of the library calls this first.
#pragma once

#include <sodium.h>

namespace update {

inline bool SodiumReady() { return sodium_init() >= 0; }

}  // namespace update
