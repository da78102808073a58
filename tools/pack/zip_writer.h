// Writes the entries of a client folder as the archive the launcher installs:
// names in code page 936 with "/" separators, directories as entries ending
// in "/" with external attributes 16 and no data, files deflated. Every entry
// carries the same fixed time stamp, so the same folder gives the same bytes.
#pragma once

#include "tools/pack/client_tree.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pack {

inline constexpr unsigned long kDirectoryAttributes = 0x10;  // FILE_ATTRIBUTE_DIRECTORY alone
inline constexpr unsigned long kFileAttributes = 0x20;       // FILE_ATTRIBUTE_ARCHIVE

// Whether an entry of `size` bytes gets zip64 sizes in its local header:
// when it, or its deflated form at worst, reaches 4 GiB. The archive's other
// zip64 records (an entry's offset past 4 GiB, the end records past 4 GiB or
// 65,535 entries) are added only where those values need them.
bool NeedsZip64Sizes(std::uintmax_t size);

// Writes `entries` to `archive` (created or replaced). Returns false with a
// reason in `error`; a half-written archive is then removed.
bool WriteClientArchive(const std::filesystem::path& archive, const std::vector<PackEntry>& entries,
                        std::string* error);

}  // namespace pack
