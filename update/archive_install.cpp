#include "update/archive_install.h"

#include <unzip.h>

#include <cstdio>
#include <cstring>

#include "base/bounded_format.h"
#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/directory_tree.h"
#include "update/download_log.h"
#include "update/entry_name.h"
#include "update/transfer_rules.h"

namespace update {

namespace {

constexpr std::size_t kCopyBufferSize = 8192;

class Archive {
 public:
  explicit Archive(const char* path) : file_(unzOpen64(path)) {}
  ~Archive() { if (file_ != nullptr) unzClose(file_); }
  Archive(const Archive&) = delete;
  Archive& operator=(const Archive&) = delete;
  unzFile Get() const { return file_; }

 private:
  unzFile file_;
};

// The current entry, opened for reading; Close reports the CRC check.
class OpenEntry {
 public:
  explicit OpenEntry(unzFile archive) : archive_(archive), open_(unzOpenCurrentFile(archive) == UNZ_OK) {}
  ~OpenEntry() { if (open_) unzCloseCurrentFile(archive_); }
  OpenEntry(const OpenEntry&) = delete;
  OpenEntry& operator=(const OpenEntry&) = delete;
  bool IsOpen() const { return open_; }
  bool Close() {
    open_ = false;
    return unzCloseCurrentFile(archive_) == UNZ_OK;
  }

 private:
  unzFile archive_;
  bool open_;
};

struct EntryInfo {
  char name[kPathSize] = {};
  bool nameFits = false;
  std::uint32_t attributes = 0;
  ZPOS64_T size = 0;  // the uncompressed size the archive declares
};

bool ReadEntryInfo(unzFile archive, EntryInfo* entry) {
  unz_file_info64 info;
  std::memset(entry->name, 0, sizeof entry->name);
  if (unzGetCurrentFileInfo64(archive, &info, entry->name, sizeof entry->name, nullptr, 0, nullptr, 0) != UNZ_OK)
    return false;
  entry->nameFits = info.size_filename < sizeof entry->name;
  entry->attributes = static_cast<std::uint32_t>(info.external_fa);
  entry->size = info.uncompressed_size;
  return true;
}

bool ComposeTarget(char (&out)[kPathSize], const char* targetDirectory, const char* name) {
  return base::FormatInto(out, sizeof out, "%s/%s", targetDirectory, name);
}

// First pass over the central directory: every name must stay inside the
// target directory and fit its path buffer before any entry is written.
bool CheckEntryNames(unzFile archive, const char* targetDirectory, ZPOS64_T count) {
  EntryInfo entry;
  char target[kPathSize];
  for (ZPOS64_T i = 0; i < count; ++i) {
    if (i > 0 && unzGoToNextFile(archive) != UNZ_OK) return false;
    if (!ReadEntryInfo(archive, &entry)) return false;
    if (!entry.nameFits || !IsConfinedEntryName(entry.name) ||
        !ComposeTarget(target, targetDirectory, entry.name)) {
      WriteLog("Refused archive entry (%s)\n", entry.name);
      return false;
    }
  }
  return unzGoToFirstFile(archive) == UNZ_OK;
}

class Installer {
 public:
  Installer(unzFile archive, const char* targetDirectory) : archive_(archive), targetDirectory_(targetDirectory) {}

  // The current entry; false fails the installation.
  bool InstallCurrent() {
    EntryInfo entry;
    if (!ReadEntryInfo(archive_, &entry)) return false;
    char target[kPathSize];
    if (!ComposeTarget(target, targetDirectory_, entry.name)) return false;
    if (IsDirectoryEntry(entry.name, entry.attributes)) {
      if (!CreateDirectoryTree(target, LastLevel::Directory, &directories_))
        WriteLog("Failed to CreateDirectory(%s/%s)\n", targetDirectory_, entry.name);
      return true;
    }
    // Every failure of a file entry names it: its data could not be read,
    // failed its check, or its file could not be made or written.
    OpenEntry open(archive_);
    const int extracted = open.IsOpen() ? ExtractEntry(target, entry.size) : kCorrupt;
    // Closing checks the CRC of data read to its end.
    if (extracted != 0 || !open.Close()) {
      WriteLog("Failed to extract %s\n", entry.name);
      return false;
    }
    return true;
  }

 private:
  static constexpr int kCorrupt = -2;

  // Writes the open entry's data to `targetPath`, making its directories
  // first: 0 on success, -1 when the file cannot be made or written, kCorrupt
  // when the entry's data cannot be read or ends before its declared size
  // (the reader checks the CRC only of data read to that size).
  int ExtractEntry(const char* targetPath, ZPOS64_T declaredSize) {
    if (targetPath == nullptr) return -1;
    if (!CreateDirectoryTree(targetPath, LastLevel::FileName, &directories_)) return -1;
    base::UniqueFile file(std::fopen(targetPath, "wb"));
    if (!file) return -1;
    ZPOS64_T written = 0;
    for (;;) {
      const int n = unzReadCurrentFile(archive_, buffer_, sizeof buffer_);
      if (n < 0) return kCorrupt;
      if (n == 0) {
        if (!file.Close()) return -1;
        return written == declaredSize ? 0 : kCorrupt;
      }
      written += static_cast<ZPOS64_T>(n);
      if (std::fwrite(buffer_, 1, static_cast<std::size_t>(n), file.Get()) != static_cast<std::size_t>(n))
        return -1;
    }
  }

  unzFile archive_;
  const char* targetDirectory_;
  DirectoryCache directories_;
  char buffer_[kCopyBufferSize];
};

// minizip cannot open an archive whose end record starts at offset 0 (it takes
// that position for "not found"), which is exactly what an archive without
// entries is. Recognise that record ourselves: signature, no entries.
bool IsEmptyArchive(const char* path) {
  base::UniqueFile file(std::fopen(path, "rb"));
  unsigned char record[22];
  if (!file || std::fread(record, 1, sizeof record, file.Get()) != sizeof record) return false;
  static const unsigned char kEndSignature[4] = {'P', 'K', 5, 6};
  const bool noEntries = record[8] == 0 && record[9] == 0 && record[10] == 0 && record[11] == 0;
  return std::memcmp(record, kEndSignature, sizeof kEndSignature) == 0 && noEntries;
}

}  // namespace

bool InstallArchive(const char* targetDirectory, const char* archivePath, progress::ProgressTargets* progress) {
  Archive archive(archivePath);
  if (archive.Get() == nullptr) {
    if (IsEmptyArchive(archivePath)) return true;
    WriteLog("Failed to open %s\n", archivePath);
    return false;
  }
  unz_global_info64 global;
  if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) return false;
  const ZPOS64_T count = global.number_entry;
  if (count == 0) return true;
  if (!CheckEntryNames(archive.Get(), targetDirectory, count)) return false;

  Installer installer(archive.Get(), targetDirectory);
  for (ZPOS64_T i = 0; i < count; ++i) {
    if (progress != nullptr) progress->upperTarget.store(InstallPercent(i, count));
    if (!installer.InstallCurrent()) return false;
    if (i + 1 < count && unzGoToNextFile(archive.Get()) != UNZ_OK) return false;
  }
  return true;
}

}  // namespace update
