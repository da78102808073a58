// 64-bit sizes and positions of C streams, for files past 2 GiB on every
// target (the 32-bit runtime's long is 32 bits). Pure: no windows.h.
#pragma once

#include <cstdint>
#include <cstdio>

namespace base {

// The size of an open stream, which is left at its start.
bool StreamSize(FILE* file, std::uint64_t* size);

// Moves an open stream to `offset` from its start.
bool SeekTo(FILE* file, std::uint64_t offset);

}  // namespace base
