#include "update/install/directory_tree.h"

#include <windows.h>

#include <cstring>

namespace update {

namespace {

bool IsDirectory(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Level `index` of `levels` as its own terminated string.
void LevelText(const DirectoryLevels& levels, std::size_t index, char (&out)[kPathSize]) {
  const std::size_t length = levels.levelEnds[index];
  std::memcpy(out, levels.path, length);
  out[length] = '\0';
}

}  // namespace

bool DirectoryCache::Covers(const char* levelPath, std::size_t length) const {
  return known_.count(std::string(levelPath, length)) != 0;
}

void DirectoryCache::Remember(const char* levelPath, std::size_t length) { known_.emplace(levelPath, length); }

bool CreateDirectoryTree(const char* path, LastLevel last, DirectoryCache* cache) {
  DirectoryLevels levels;
  if (!ListDirectoryLevels(path, last, &levels)) return false;
  if (levels.count == 0) return true;
  DirectoryCache local;
  if (cache == nullptr) cache = &local;

  const std::size_t deepest = levels.count - 1;
  // Every level above a known one is known too (all are remembered below).
  if (cache->Covers(levels.path, levels.levelEnds[deepest])) return true;
  std::size_t first = 0;
  while (first < levels.count && cache->Covers(levels.path, levels.levelEnds[first])) ++first;

  char level[kPathSize];
  // Most levels already exist after the first entries: one look at the
  // deepest level then settles the whole path.
  LevelText(levels, deepest, level);
  if (!IsDirectory(level)) {
    for (std::size_t i = first; i < levels.count; ++i) {
      LevelText(levels, i, level);
      // A level that exists (or that another program made meanwhile) fails
      // to be created but is fine, as long as it is a directory.
      if (!::CreateDirectoryA(level, nullptr) && !IsDirectory(level)) return false;
    }
  }
  for (std::size_t i = first; i < levels.count; ++i) cache->Remember(levels.path, levels.levelEnds[i]);
  return true;
}

}  // namespace update
