// Walks a client folder and turns it into the list of archive entries, in a
// fixed order, refusing every name the launcher could not install.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pack {

struct PackEntry {
  std::string name;             // UTF-8, "/" separators, directories end in "/"
  std::string storedName;       // the same in code page 936, as written to the archive
  std::filesystem::path source; // file on disk (empty for directories)
  bool isDirectory = false;
  std::uintmax_t size = 0;
};

// Collects every directory and file under `client` (not the folder itself),
// sorted by name so that a directory comes before what it holds and the same
// folder always packs the same way. Every refused name adds one line to
// `errors`; the result is usable only when `errors` stays empty.
std::vector<PackEntry> CollectClientEntries(const std::filesystem::path& client,
                                            std::vector<std::string>* errors);

}  // namespace pack
