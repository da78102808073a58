// ZIP archives made on the spot for the tests and measurements of every tree
// (natively and on Windows alike), with minizip's writer: entries stored or deflated, with chosen attributes,
// general-purpose flags and extra fields, or with only a declared size and
// CRC (a central directory for files that exist elsewhere).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_zip {

struct ZipEntry {
  std::string name;
  std::string data;
  std::uint32_t attributes = 0x20;  // external attributes
  bool stored = false;              // no compression
  std::uint16_t flags = 0;          // general-purpose bits beside those the writer sets (bit 11: UTF-8 name)
  std::string extra = {};           // extra field blocks, in the local and the central header alike
};
bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);

// An entry that declares `size` bytes (below 4 GiB) with `crc` and carries
// no data.
struct DeclaredEntry {
  std::string name;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};
bool WriteDeclaredZip(const std::string& path, const std::vector<DeclaredEntry>& entries);

}  // namespace testing_zip
