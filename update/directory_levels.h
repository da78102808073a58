// The directory levels that must exist before a path can be written: the
// splitting half of CreateDirectoryTree, kept pure (no windows.h) so that it
// is tested natively.
#pragma once

#include <cstddef>

namespace update {

constexpr std::size_t kPathSize = 260;  // MAX_PATH: 259 characters and the terminator

enum class LastLevel {
  FileName,   // the last level names a file: only the levels above it are made
  Directory,  // the path names a directory: every level is made, dots or not
};

// One path, rewritten with "\" as its separator, runs of separators and "."
// levels dropped, and a "\" after each level. Level i is the first
// levelEnds[i] bytes of `path`. The root ("C:\", "C:", "\" or a network
// "\\server\share\") is kept at the front and is never a level: it cannot be
// created, only reached.
struct DirectoryLevels {
  char path[kPathSize];
  std::size_t rootLength;
  std::size_t levelEnds[kPathSize / 2 + 1];
  std::size_t count;
};

// False when the rewritten path does not fit, or when a level ends in a lone
// code page 936 lead byte, which the "\" after it would turn into a
// double-byte character (nothing is then to be created).
bool ListDirectoryLevels(const char* path, LastLevel last, DirectoryLevels* out);

}  // namespace update
