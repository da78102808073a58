// Where a large file is cut into chunks: a boundary falls where a rolling
// hash of the last 64 bytes meets a condition, so that it depends on the
// content around it (and on where the chunk began) alone, and an insertion
// or removal moves no boundary far from the change. Chunks hold at least
// kMinChunkBytes, about kAverageChunkBytes on average, and at most
// kMaxChunkBytes (the manifest's bound).
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/manifest/manifest.h"

namespace pack {

inline constexpr std::uint64_t kMinChunkBytes = 256 * 1024;
inline constexpr std::uint64_t kAverageChunkBytes = 1024 * 1024;
inline constexpr std::uint64_t kMaxChunkBytes = update::kMaxChunkBytes;

// Files of at least this size are deflated in chunks.
inline constexpr std::uint64_t kChunkedFileBytes = 8 * 1024 * 1024;

// Finds the boundaries of one file fed in order, in pieces of any size.
class ChunkCutter {
 public:
  // How many of the `size` bytes at `data` belong to the current chunk: all
  // of them (and *cut false) when it goes on past them, else the bytes up to
  // its boundary (and *cut true), after which a new chunk begins.
  std::size_t Scan(const unsigned char* data, std::size_t size, bool* cut);

 private:
  std::uint64_t hash_ = 0;
  std::uint64_t length_ = 0;  // of the current chunk so far
};

}  // namespace pack
