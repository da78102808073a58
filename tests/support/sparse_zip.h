// ZIP archives of any size for tests, written by hand so that a stored entry
// of zeros costs no disk: its bytes are a hole in a sparse file. ZIP64
// records appear where a size, an offset or the entry count needs them, as
// the format asks: a local header's zip64 field for an entry of 4 GiB or
// more, central zip64 fields for each value past 32 bits, and the zip64 end
// records when the directory lies past 4 GiB or the entries pass 65,535.
// Pure: stdio and zlib, no windows.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_zip {

struct SparseEntry {
  std::string name;         // stored bytes
  std::string data;         // the entry's bytes, unless `zeros` is set
  std::uint64_t zeros = 0;  // a stored entry of this many zero bytes, written as a hole
  bool deflated = false;    // `data` deflated (raw deflate, as ZIP stores it)
  std::uint32_t attributes = 0x20;
  std::uint16_t flags = 0;  // general-purpose bits, e.g. 0x800 for UTF-8 names
};

struct SparseZipFacts {
  std::uint64_t size = 0;                        // of the whole archive
  std::vector<std::uint64_t> localHeaderOffsets;  // per entry
};

// Writes `entries` to `path` (created or replaced); false when a write fails.
bool WriteSparseZip(const std::string& path, const std::vector<SparseEntry>& entries, SparseZipFacts* facts = nullptr);

// The CRC-32 of `count` zero bytes, without reading them.
std::uint32_t Crc32OfZeros(std::uint64_t count);

}  // namespace testing_zip
