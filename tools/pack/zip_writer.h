// Writes the entries of a client folder as the archive the launcher installs:
// names in code page 936 with "/" separators, directories as entries ending
// in "/" with external attributes 16 and no data, files deflated. Every entry
// carries the same fixed time stamp, so the same folder gives the same bytes.
#pragma once

#include "tools/pack/chunk_boundaries.h"
#include "tools/pack/client_tree.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "update/manifest/manifest.h"

namespace pack {

inline constexpr unsigned long kDirectoryAttributes = 0x10;  // FILE_ATTRIBUTE_DIRECTORY alone
inline constexpr unsigned long kFileAttributes = 0x20;       // FILE_ATTRIBUTE_ARCHIVE

// Whether an entry of `size` bytes gets zip64 sizes in its local header:
// when it, or its deflated form at worst, reaches 4 GiB. The archive's other
// zip64 records (an entry's offset past 4 GiB, the end records past 4 GiB or
// 65,535 entries) are added only where those values need them.
bool NeedsZip64Sizes(std::uintmax_t size);

// The chunks of every file deflated in chunks, by stored name: offsets and
// lengths in the file and in its compressed data (their SHA-256s are left to
// the manifest, which reads the archive back).
using ChunkLayout = std::map<std::string, std::vector<update::ManifestChunk>>;

// Writes `entries` to `archive` (created or replaced). Files of at least
// `chunkedFileBytes` are deflated in chunks (tools/pack/chunk_boundaries.h),
// each ended by a full flush, and listed in `*layout` when it is given.
// Returns false with a reason in `error`; a half-written archive is then
// removed.
bool WriteClientArchive(const std::filesystem::path& archive, const std::vector<PackEntry>& entries,
                        std::string* error, ChunkLayout* layout = nullptr,
                        std::uint64_t chunkedFileBytes = kChunkedFileBytes);

}  // namespace pack
