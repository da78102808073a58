// Writes the entries of a client folder as the archive the launcher installs:
// names in code page 936 with "/" separators, directories as entries ending
// in "/" with external attributes 16 and no data, files deflated. Every entry
// carries the same fixed time stamp, so the same folder gives the same bytes.
#pragma once

#include "tools/pack/client_tree.h"

#include <filesystem>
#include <string>
#include <vector>

namespace pack {

inline constexpr unsigned long kDirectoryAttributes = 0x10;  // FILE_ATTRIBUTE_DIRECTORY alone
inline constexpr unsigned long kFileAttributes = 0x20;       // FILE_ATTRIBUTE_ARCHIVE

// Writes `entries` to `archive` (created or replaced). Returns false with a
// reason in `error`; a half-written archive is then removed.
bool WriteClientArchive(const std::filesystem::path& archive, const std::vector<PackEntry>& entries,
                        std::string* error);

}  // namespace pack
