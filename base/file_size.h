// The size of a file on disk, as 64 bits whatever the build (clients pass
// 4 GiB). Windows.
#pragma once

#include <cstdint>

namespace base {

// True, with its size, when `path` names a file; false when it names nothing
// (or what cannot be looked at) or a directory.
bool FileSize(const char* path, std::uint64_t* size);

}  // namespace base
