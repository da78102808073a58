// 64-bit sizes and positions of C streams, for files past 2 GiB on every
// target (the Windows runtimes' long is 32 bits). Pure: no windows.h.
#pragma once

#include <cstdint>
#include <cstdio>

namespace base {

// The size of an open stream, which is left at its start.
bool StreamSize(FILE* file, std::uint64_t* size);

// Moves an open stream to `offset` from its start.
bool SeekTo(FILE* file, std::uint64_t offset);

enum class SeekOrigin { Start, Current, End };

// Moves an open stream by `offset` from `origin`.
bool SeekBy(FILE* file, std::int64_t offset, SeekOrigin origin);

// The current position of an open stream.
bool StreamPosition(FILE* file, std::uint64_t* position);

}  // namespace base
