#include "update/client_verify.h"

#include <unzip.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "base/bounded_format.h"
#include "base/unique_file.h"
#include "update/directory_levels.h"
#include "update/entry_name.h"

namespace update {

namespace {

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

struct Entry {
  char name[kPathSize] = {};
  bool nameFits = false;
  bool isDirectory = false;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
};

bool ReadEntry(unzFile archive, Entry* entry) {
  unz_file_info64 info;
  std::memset(entry->name, 0, sizeof entry->name);
  if (unzGetCurrentFileInfo64(archive, &info, entry->name, sizeof entry->name, nullptr, 0, nullptr, 0) != UNZ_OK)
    return false;
  entry->nameFits = info.size_filename < sizeof entry->name;
  entry->isDirectory = IsDirectoryEntry(entry->name, static_cast<std::uint32_t>(info.external_fa));
  entry->size = info.uncompressed_size;
  entry->crc = static_cast<std::uint32_t>(info.crc);
  return true;
}

bool ComposeTarget(char (&out)[kPathSize], const char* directory, const char* name) {
  return base::FormatInto(out, sizeof out, "%s/%s", directory, name);
}

// The size of an open stream, which is left at its start.
bool StreamSize(FILE* file, std::uint64_t* size) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  const long long end = _ftelli64(file);
  if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return false;
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  const off_t end = ftello(file);
  if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) return false;
#endif
  *size = static_cast<std::uint64_t>(end);
  return true;
}

// minizip cannot open an archive whose end record starts at offset 0 (it takes
// that position for "not found"), which is exactly what an archive without
// entries is. Recognise that record: signature, no entries.
bool IsEmptyArchive(const char* path) {
  base::UniqueFile file(std::fopen(path, "rb"));
  unsigned char record[22];
  if (!file || std::fread(record, 1, sizeof record, file.Get()) != sizeof record) return false;
  static const unsigned char kEndSignature[4] = {'P', 'K', 5, 6};
  const bool noEntries = record[8] == 0 && record[9] == 0 && record[10] == 0 && record[11] == 0;
  return std::memcmp(record, kEndSignature, sizeof kEndSignature) == 0 && noEntries;
}

class Verifier {
 public:
  Verifier(unzFile archive, const char* directory, const VerifyProgress& progress)
      : archive_(archive), directory_(directory), progress_(progress),
        buffer_(std::make_unique<unsigned char[]>(kVerifyBlockSize)) {}

  // First pass over the central directory: every name is checked and the
  // declared bytes of the file entries are summed for the progress total.
  bool CheckNames(std::uint64_t count, VerifyReport* report) {
    Entry entry;
    char target[kPathSize];
    for (std::uint64_t i = 0; i < count; ++i) {
      if (i > 0 && unzGoToNextFile(archive_) != UNZ_OK) return false;
      if (!ReadEntry(archive_, &entry)) return false;
      if (!entry.nameFits || !IsConfinedEntryName(entry.name) || !ComposeTarget(target, directory_, entry.name)) {
        report->outcome = VerifyOutcome::EntryRefused;
        report->refusedName = entry.name;
        return false;
      }
      if (!entry.isDirectory) total_ += entry.size;
    }
    return unzGoToFirstFile(archive_) == UNZ_OK;
  }

  bool VerifyAll(std::uint64_t count, VerifyReport* report) {
    Entry entry;
    for (std::uint64_t i = 0; i < count; ++i) {
      if (i > 0 && unzGoToNextFile(archive_) != UNZ_OK) return false;
      if (!ReadEntry(archive_, &entry)) return false;
      if (entry.isDirectory) continue;
      ++report->filesChecked;
      const std::uint64_t before = done_;
      if (const std::optional<EntryDamage> damage = Compare(entry, report))
        report->damaged.push_back({entry.name, *damage});
      done_ = before + entry.size;  // a missing or short file still counts as done
      Report();
    }
    return true;
  }

  void Report() const {
    if (progress_) progress_(done_, total_);
  }

 private:
  // Nothing when the file matches its entry.
  std::optional<EntryDamage> Compare(const Entry& entry, VerifyReport* report) {
    char target[kPathSize];
    if (!ComposeTarget(target, directory_, entry.name)) return EntryDamage::Missing;  // checked in the first pass
    base::UniqueFile file(std::fopen(target, "rb"));
    if (!file) return EntryDamage::Missing;
    std::uint64_t size = 0;
    if (!StreamSize(file.Get(), &size)) return EntryDamage::ContentDiffers;
    if (size != entry.size) return EntryDamage::SizeDiffers;
    // The buffer is large; the stream's own would only add a copy.
    std::setvbuf(file.Get(), nullptr, _IONBF, 0);
    uLong crc = crc32(0L, Z_NULL, 0);
    std::uint64_t read = 0;
    for (;;) {
      const std::size_t n = std::fread(buffer_.get(), 1, kVerifyBlockSize, file.Get());
      if (n > 0) {
        crc = crc32(crc, buffer_.get(), static_cast<uInt>(n));
        read += n;
        report->bytesRead += n;
        done_ += n;
        Report();
      }
      if (n < kVerifyBlockSize || read > entry.size) break;
    }
    if (std::ferror(file.Get()) || read != entry.size) return EntryDamage::ContentDiffers;  // changed while read
    if (static_cast<std::uint32_t>(crc) != entry.crc) return EntryDamage::ContentDiffers;
    return std::nullopt;
  }

  unzFile archive_;
  const char* directory_;
  const VerifyProgress& progress_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
};

}  // namespace

VerifyReport VerifyClient(const char* clientDirectory, const char* archivePath, const VerifyProgress& progress) {
  VerifyReport report;
  if (clientDirectory == nullptr || archivePath == nullptr) return report;
  Archive archive(archivePath);
  if (archive.Get() == nullptr) {
    if (IsEmptyArchive(archivePath)) {
      report.outcome = VerifyOutcome::Verified;
      if (progress) progress(0, 0);
    }
    return report;
  }
  unz_global_info64 global;
  if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) return report;
  Verifier verifier(archive.Get(), clientDirectory, progress);
  if (!verifier.CheckNames(global.number_entry, &report)) return report;
  verifier.Report();  // 0 of the total before the first file is read
  if (!verifier.VerifyAll(global.number_entry, &report)) {
    report.damaged.clear();
    return report;
  }
  report.outcome = VerifyOutcome::Verified;
  return report;
}

}  // namespace update
