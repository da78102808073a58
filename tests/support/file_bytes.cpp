#include "tests/support/file_bytes.h"

#include <cstdio>

#include "base/unique_file.h"

namespace testing_files {

std::string ReadWholeFile(const std::string& path) {
  base::UniqueFile in(std::fopen(path.c_str(), "rb"));
  if (!in) return "";
  std::string out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, in.Get())) > 0) out.append(buffer, n);
  return out;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  base::UniqueFile out(std::fopen(path.c_str(), "wb"));
  if (!out) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out.Get()) == bytes.size();
  return out.Close() && written;
}

}  // namespace testing_files
