#include "update/install/archive_reader.h"

#include <unzip.h>

#include <cstdio>
#include <cstring>

#include "base/bounded_format.h"
#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/install/entry_name.h"
#include "update/transfer_rules.h"
#include "update/install/zip_archive.h"

namespace update {

namespace {

// Large pieces keep the number of writes (each a system call under Wine) low
// for large entries: a third of the calls of an 8 KiB buffer.
constexpr std::size_t kCopyBufferSize = 256 * 1024;

}  // namespace

bool ComposeEntryTarget(char (&out)[kPathSize], const char* directory, const char* name) {
  return base::FormatInto(out, sizeof out, "%s/%s", directory, name);
}

ArchiveReader::ArchiveReader(const char* path) : buffer_(std::make_unique<char[]>(kCopyBufferSize)) {
  unzFile archive = OpenZipForReading(path);
  if (archive == nullptr) {
    if (IsEmptyZipArchive(path)) {
      state_ = State::Empty;
      return;
    }
    WriteLog("Failed to open %s\n", path);
    return;
  }
  archive_ = archive;
  unz_global_info64 global;
  if (unzGetGlobalInfo64(archive, &global) != UNZ_OK) return;
  count_ = global.number_entry;
  state_ = count_ == 0 ? State::Empty : State::Open;
}

ArchiveReader::~ArchiveReader() {
  if (archive_ != nullptr) unzClose(static_cast<unzFile>(archive_));
}

bool ArchiveReader::ReadCurrent(ArchiveEntry* entry) {
  return ReadZipEntryHeader(static_cast<unzFile>(archive_), entry);
}

bool ArchiveReader::VisitEntries(progress::ProgressTargets* progress, const EntryVisitor& visit) {
  unzFile archive = static_cast<unzFile>(archive_);
  if (count_ == 0 || unzGoToFirstFile(archive) != UNZ_OK) return count_ == 0;
  ArchiveEntry entry;
  for (std::uint64_t i = 0; i < count_; ++i) {
    if (progress != nullptr) {
      progress->upperTarget.store(InstallPercent(i, count_));
      progress->count.Set(progress::CountUnit::Files, static_cast<std::int64_t>(i), static_cast<std::int64_t>(count_));
    }
    if (!ReadCurrent(&entry) || !visit(i, entry)) return false;
    if (i + 1 < count_ && unzGoToNextFile(archive) != UNZ_OK) return false;
  }
  if (progress != nullptr)
    progress->count.Set(progress::CountUnit::Files, static_cast<std::int64_t>(count_), static_cast<std::int64_t>(count_));
  return true;
}

bool ArchiveReader::CheckNames(const char* targetDirectory, std::uint64_t* fileBytes,
                               const std::set<std::string>* selection, const CheckedVisitor& checked) {
  char target[kPathSize];
  return VisitEntries(nullptr, [&](std::uint64_t, const ArchiveEntry& entry) {
    if (selection != nullptr && (!entry.nameUsable || selection->count(entry.name) == 0)) return true;
    if (!entry.nameUsable || !IsConfinedEntryName(entry.name) ||
        !ComposeEntryTarget(target, targetDirectory, entry.name)) {
      WriteLog("Refused archive entry (%s)\n", entry.storedName.c_str());
      return false;
    }
    if (fileBytes != nullptr && !IsDirectoryEntry(entry.name, entry.attributes))
      *fileBytes = AddBytes(*fileBytes, StagedFileBytes(entry.size));
    if (checked) checked(entry);
    return true;
  });
}

ExtractResult ArchiveReader::ExtractCurrent(const ArchiveEntry& entry, const char* path, DirectoryCache* directories) {
  // Every failure of a file entry names it: its data could not be read,
  // failed its check, or its file could not be made or written.
  const ExtractResult result = Extract(entry, path, directories);
  if (result != ExtractResult::Extracted) WriteLog("Failed to extract %s\n", entry.name);
  return result;
}

ExtractResult ArchiveReader::Extract(const ArchiveEntry& entry, const char* path, DirectoryCache* directories) {
  unzFile archive = static_cast<unzFile>(archive_);
  OpenZipEntry open(archive);
  if (!open.IsOpen()) return ExtractResult::Corrupt;
  if (!CreateDirectoryTree(path, LastLevel::FileName, directories)) return ExtractResult::WriteFailed;
  base::UniqueFile file(std::fopen(path, "wb"));
  if (!file) return ExtractResult::WriteFailed;
  std::uint64_t written = 0;
  bool dataGood = true;
  for (;;) {
    const int n = unzReadCurrentFile(archive, buffer_.get(), kCopyBufferSize);
    if (n < 0) {
      dataGood = false;
      break;
    }
    if (n == 0) {
      if (!file.Close()) return ExtractResult::WriteFailed;
      // The reader checks the CRC only of data read to the declared size.
      dataGood = written == entry.size;
      break;
    }
    written += static_cast<std::uint64_t>(n);
    if (std::fwrite(buffer_.get(), 1, static_cast<std::size_t>(n), file.Get()) != static_cast<std::size_t>(n))
      return ExtractResult::WriteFailed;
  }
  // Closing checks the CRC of data read to its end.
  if (!dataGood || !open.Close()) return ExtractResult::Corrupt;
  return ExtractResult::Extracted;
}

}  // namespace update
