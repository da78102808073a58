// Owners of minizip's handles, and the one archive shape minizip cannot open,
// shared by everything that reads the client archive (installation, staging,
// verification). Pure: no windows.h.
#pragma once

#include <unzip.h>

#include "update/install/zip_file_functions.h"

namespace update {

// An archive opened for reading with 64-bit offsets; Get() is null when it could not be.
class ZipArchive {
 public:
  explicit ZipArchive(const char* path) : file_(OpenZipForReading(path)) {}
  ~ZipArchive() { if (file_ != nullptr) unzClose(file_); }
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;
  unzFile Get() const { return file_; }

 private:
  unzFile file_;
};

// The archive's current entry, opened for reading; Close reports the CRC
// check of data read to its end.
class OpenZipEntry {
 public:
  explicit OpenZipEntry(unzFile archive) : archive_(archive), open_(unzOpenCurrentFile(archive) == UNZ_OK) {}
  ~OpenZipEntry() { if (open_) unzCloseCurrentFile(archive_); }
  OpenZipEntry(const OpenZipEntry&) = delete;
  OpenZipEntry& operator=(const OpenZipEntry&) = delete;
  bool IsOpen() const { return open_; }
  bool Close() {
    open_ = false;
    return unzCloseCurrentFile(archive_) == UNZ_OK;
  }

 private:
  unzFile archive_;
  bool open_;
};

// minizip cannot open an archive whose end record starts at offset 0 (it takes
// that position for "not found"), which is exactly what an archive without
// entries is. True for that record: signature, no entries.
bool IsEmptyZipArchive(const char* path);

}  // namespace update
