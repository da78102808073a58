// The SHA-256 of a file on disk, read once in large blocks through the same
// streaming digest that checks an archive while it downloads: how the
// launcher recognises, at a repair, whether the archive kept in Temp is the
// one it installed. Pure: stdio and libsodium, no windows.h.
#pragma once

#include <cstdint>
#include <functional>

#include "update/trust/archive_digest.h"

namespace update {

// Told the bytes hashed so far and the file's size, after every block.
using DigestProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// False when the file cannot be opened or read to its end.
bool FileSha256(const char* path, Sha256Digest* out, const DigestProgress& progress = nullptr);

}  // namespace update
