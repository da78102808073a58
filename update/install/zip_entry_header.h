// The current entry of an archive opened with minizip, as every reader of the
// client archive sees it: installation in place and staged, verification and
// repair all read entries through ReadZipEntryHeader, so that each gets the
// same name on disk for an entry (update/install/entry_name_encoding.h decides it
// from the stored name, the UTF-8 flag and the Unicode Path field). Pure:
// minizip, no windows.h.
#pragma once

#include <unzip.h>

#include <cstdint>
#include <string>

#include "update/directory_levels.h"

namespace update {

struct ZipEntryHeader {
  char name[kPathSize] = {};    // the file's name on disk below the target directory (code page 936)
  bool nameUsable = false;      // the name could be decided and fits `name`; false: the entry is refused
  std::string storedName;       // the name's bytes as the archive stores them ("Refused archive entry (NAME)")
  std::uint32_t attributes = 0;  // external attributes
  std::uint64_t size = 0;        // the uncompressed size the archive declares
  std::uint32_t crc = 0;         // the CRC-32 the archive declares
  std::uint64_t compressedSize = 0;  // the bytes of its data in the archive
  std::uint16_t method = 0;          // 0 stored, 8 deflate
  std::uint16_t flags = 0;           // the general-purpose bits (bit 0: encrypted)
  std::string extra;             // the central directory's extra field, as read
};

// Reads the header of the archive's current entry. False when minizip cannot
// read it; a name that cannot be represented or does not fit is no failure
// here: the entry reads with `nameUsable` false and an empty `name`.
bool ReadZipEntryHeader(unzFile archive, ZipEntryHeader* entry);

}  // namespace update
