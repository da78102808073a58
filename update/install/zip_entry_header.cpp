#include "update/install/zip_entry_header.h"

#include <cstring>

#include "update/install/entry_name_encoding.h"

namespace update {

namespace {

// Enough for the names and extra fields archivers write: one read of the
// header gets them whole. Longer ones (a UTF-8 name may be longer as stored
// than on disk) are read again at their size.
constexpr std::size_t kFirstReadBytes = 1024;

bool ReadHeader(unzFile archive, unz_file_info64* info, std::string* name, std::string* extra) {
  return unzGetCurrentFileInfo64(archive, info, name->data(), name->size(), extra->data(), extra->size(), nullptr, 0) ==
         UNZ_OK;
}

}  // namespace

bool ReadZipEntryHeader(unzFile archive, ZipEntryHeader* entry) {
  std::memset(entry->name, 0, sizeof entry->name);
  entry->nameUsable = false;
  entry->storedName.resize(kFirstReadBytes);
  entry->extra.resize(kFirstReadBytes);
  unz_file_info64 info;
  if (!ReadHeader(archive, &info, &entry->storedName, &entry->extra)) return false;
  if (info.size_filename > entry->storedName.size() || info.size_file_extra > entry->extra.size()) {
    entry->storedName.resize(info.size_filename);
    entry->extra.resize(info.size_file_extra);
    if (!ReadHeader(archive, &info, &entry->storedName, &entry->extra)) return false;
  }
  entry->storedName.resize(info.size_filename);
  entry->extra.resize(info.size_file_extra);
  entry->attributes = static_cast<std::uint32_t>(info.external_fa);
  entry->size = info.uncompressed_size;
  entry->crc = static_cast<std::uint32_t>(info.crc);
  entry->compressedSize = info.compressed_size;
  entry->method = static_cast<std::uint16_t>(info.compression_method);
  entry->flags = static_cast<std::uint16_t>(info.flag);
  std::string diskName;
  if (DecideDiskName(static_cast<std::uint32_t>(info.flag), entry->storedName, entry->extra, &diskName) ==
      DiskNameRule::Unrepresentable)
    return true;
  if (diskName.size() >= sizeof entry->name) return true;
  std::memcpy(entry->name, diskName.data(), diskName.size());
  entry->nameUsable = true;
  return true;
}

}  // namespace update
