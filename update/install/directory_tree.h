// Creating the directory levels a path needs (Win32 half of the levels rule).
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>

#include "update/directory_levels.h"

namespace update {

// Remembers the directories known to exist (made or seen here), so that the
// many entries of one directory cost no file-system call for their levels,
// also when an archive's entries go from folder to folder in turn.
class DirectoryCache {
 public:
  bool Covers(const char* levelPath, std::size_t length) const;
  void Remember(const char* levelPath, std::size_t length);

 private:
  std::unordered_set<std::string> known_;
};

// Makes every level that `path` needs (see ListDirectoryLevels). True when all
// of them exist afterwards, also when there are none; false when a level
// cannot be made or is a file, or when the path does not fit. Logs nothing.
bool CreateDirectoryTree(const char* path, LastLevel last, DirectoryCache* cache);

}  // namespace update
