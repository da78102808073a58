#include "update/install/zip_archive.h"

#include <cstdio>
#include <cstring>

#include "base/unique_file.h"

namespace update {

bool IsEmptyZipArchive(const char* path) {
  base::UniqueFile file(std::fopen(path, "rb"));
  unsigned char record[22];
  if (!file || std::fread(record, 1, sizeof record, file.Get()) != sizeof record) return false;
  static const unsigned char kEndSignature[4] = {'P', 'K', 5, 6};
  const bool noEntries = record[8] == 0 && record[9] == 0 && record[10] == 0 && record[11] == 0;
  return std::memcmp(record, kEndSignature, sizeof kEndSignature) == 0 && noEntries;
}

}  // namespace update
