// Composition of the worker's paths and URLs into 260-byte buffers, and the
// version rule. Pure: no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/trust/archive_digest.h"

namespace update {

// "<directory>\<name>"; false (and an empty buffer) when it does not fit.
bool ComposePath(char* out, std::size_t size, const char* directory, const char* name);

// "<base>?<tick>": the tick count is always appended as a signed decimal, so
// the server's caches never answer, whatever query the base already has.
bool ComposeTickUrl(char* out, std::size_t size, const char* base, std::uint32_t tickCount);

// "<base>?<first 16 hex digits of the digest>": the archive of a descriptor
// that names its digest. Every player asks for the same URL, so a cache in
// front of the server can answer, and a new archive still gets a new URL.
bool ComposeDigestUrl(char* out, std::size_t size, const char* base, const Sha256Digest& digest);

// The installed client is updated only when its number is lower.
inline bool NeedsUpdate(std::int32_t installed, std::int32_t remote) { return installed < remote; }

}  // namespace update
