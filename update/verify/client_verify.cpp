#include "update/verify/client_verify.h"

#include <unzip.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "base/bounded_format.h"
#include "base/crc32.h"
#include "base/stream_position.h"
#include "base/unique_file.h"
#include "update/directory_levels.h"
#include "update/install/entry_name.h"
#include "update/install/zip_archive.h"
#include "update/install/zip_entry_header.h"

namespace update {

namespace {

bool ComposeTarget(char (&out)[kPathSize], const char* directory, const char* name) {
  return base::FormatInto(out, sizeof out, "%s/%s", directory, name);
}

// One file entry as the central directory declares it.
struct FileEntry {
  std::string name;
  std::uint64_t size;
  std::uint32_t crc;
};

// A piece of one file: files are checksummed in pieces so that several
// threads share even a single large file; the pieces' CRCs are joined in
// order with crc32_combine.
enum class PieceState : std::uint8_t { Read, Missing, SizeDiffers, ReadFailed };

struct Piece {
  std::size_t entry;
  std::uint64_t offset;
  std::uint64_t length;
  bool decided = false;  // found missing or of another size before any thread ran:
  PieceState state = PieceState::ReadFailed;  // then this is the answer, for the whole file
};

// More than any client holds; an archive declaring more is not believed (and
// no sum or percentage of sizes below this can overflow).
constexpr std::uint64_t kMaxDeclaredBytes = std::uint64_t{1} << 56;
struct PieceResult {
  PieceState state = PieceState::ReadFailed;
  std::uint32_t crc = 0;
};

// First pass over the central directory: every name is checked (nothing is
// read before all are), and the file entries are collected.
bool CollectFiles(unzFile archive, const char* directory, std::uint64_t count, const std::set<std::string>* only,
                  std::vector<FileEntry>* files, VerifyReport* report) {
  ZipEntryHeader entry;
  char target[kPathSize];
  std::uint64_t declared = 0;
  for (std::uint64_t i = 0; i < count; ++i) {
    if (i > 0 && unzGoToNextFile(archive) != UNZ_OK) return false;
    if (!ReadZipEntryHeader(archive, &entry)) return false;
    if (!entry.nameUsable || !IsConfinedEntryName(entry.name) || !ComposeTarget(target, directory, entry.name)) {
      report->outcome = VerifyOutcome::EntryRefused;
      report->refusedName = entry.storedName.c_str();
      return false;
    }
    if (IsDirectoryEntry(entry.name, entry.attributes) || (only != nullptr && only->count(entry.name) == 0)) continue;
    if (entry.size > kMaxDeclaredBytes - declared) return false;
    declared += entry.size;
    files->push_back({entry.name, entry.size, entry.crc});
  }
  return true;
}

// The size of the file at `path`: false when it is missing or not a file.
bool FileSizeAt(const char* path, std::uint64_t* size) {
  base::UniqueFile file(std::fopen(path, "rb"));
  return file && base::StreamSize(file.Get(), size);
}

class Verifier {
 public:
  Verifier(const char* directory, const std::vector<FileEntry>& files, const VerifyProgress& progress)
      : directory_(directory), files_(files), progress_(progress) {
    for (std::size_t i = 0; i < files_.size(); ++i) {
      total_ += files_[i].size;
      // A file of several pieces is sized here first, so that only as many
      // pieces are made as the file on disk really has.
      if (files_[i].size > kVerifyPieceSize) {
        char target[kPathSize];
        std::uint64_t size = 0;
        const bool exists = ComposeTarget(target, directory_, files_[i].name.c_str()) && FileSizeAt(target, &size);
        if (!exists || size != files_[i].size) {
          pieces_.push_back({i, 0, files_[i].size, true, exists ? PieceState::SizeDiffers : PieceState::Missing});
          continue;
        }
      }
      std::uint64_t offset = 0;
      do {
        const std::uint64_t length = std::min(kVerifyPieceSize, files_[i].size - offset);
        pieces_.push_back({i, offset, length, false, PieceState::ReadFailed});
        offset += length;
      } while (offset < files_[i].size);
    }
    results_.resize(pieces_.size());
  }

  // Runs the pieces on this thread and on up to `threads` - 1 helpers.
  void Run(unsigned threads, VerifyReport* report) {
    Report();
    std::vector<std::thread> helpers;
    for (unsigned i = 1; i < threads && i < pieces_.size(); ++i) helpers.emplace_back([this] { Work(); });
    report->threads = static_cast<std::uint32_t>(helpers.size() + 1);
    Work();
    for (std::thread& thread : helpers) thread.join();
    Report();
    Collect(report);
  }

 private:

  // One call at a time, whichever thread asks; read under the lock, the count
  // never goes back between calls.
  void Report() {
    if (!progress_) return;
    std::lock_guard<std::mutex> lock(reportLock_);
    progress_(done_.load(), total_);
  }

  void Work() {
    auto buffer = std::make_unique<unsigned char[]>(kVerifyBlockSize);
    for (std::size_t i; (i = next_.fetch_add(1)) < pieces_.size();)
      results_[i] = CheckPiece(pieces_[i], buffer.get());
  }

  PieceResult CheckPiece(const Piece& piece, unsigned char* buffer) {
    const FileEntry& entry = files_[piece.entry];
    PieceResult result;
    if (piece.decided) {
      result.state = piece.state;
      Advance(piece.length);
      return result;
    }
    char target[kPathSize];
    base::UniqueFile file;
    if (ComposeTarget(target, directory_, entry.name.c_str())) file.Reset(std::fopen(target, "rb"));
    std::uint64_t size = 0;
    if (!file) {
      result.state = PieceState::Missing;
    } else if (!base::StreamSize(file.Get(), &size)) {
      result.state = PieceState::ReadFailed;
    } else if (size != entry.size) {
      result.state = PieceState::SizeDiffers;  // size first: such a file is not read
    } else {
      result = ReadPiece(file.Get(), piece, buffer);
    }
    if (result.state != PieceState::Read) Advance(piece.length);
    return result;
  }

  PieceResult ReadPiece(FILE* file, const Piece& piece, unsigned char* buffer) {
    PieceResult result;
    if (!base::SeekTo(file, piece.offset)) return result;
    // The buffer is large; the stream's own would only add a copy.
    std::setvbuf(file, nullptr, _IONBF, 0);
    std::uint32_t crc = 0;
    for (std::uint64_t left = piece.length; left > 0;) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kVerifyBlockSize));
      const std::size_t n = std::fread(buffer, 1, want, file);
      crc = base::Crc32(crc, buffer, n);
      bytesRead_ += n;
      Advance(n);
      if (n != want) {
        Advance(left - n);
        return result;  // shorter than its size said, or unreadable: changed while read
      }
      left -= n;
    }
    result.state = PieceState::Read;
    result.crc = crc;
    return result;
  }

  void Advance(std::uint64_t bytes) {
    done_ += bytes;
    Report();
  }

  // Joins the pieces of each file, in archive order.
  void Collect(VerifyReport* report) const {
    report->filesChecked = files_.size();
    report->bytesRead = bytesRead_.load();
    std::size_t p = 0;
    for (std::size_t i = 0; i < files_.size(); ++i) {
      std::optional<EntryDamage> damage;
      uLong crc = 0;
      for (; p < pieces_.size() && pieces_[p].entry == i; ++p) {
        const PieceResult& r = results_[p];
        if (damage) continue;
        if (r.state == PieceState::Missing) damage = EntryDamage::Missing;
        else if (r.state == PieceState::SizeDiffers) damage = EntryDamage::SizeDiffers;
        else if (r.state == PieceState::ReadFailed) damage = EntryDamage::ContentDiffers;
        else crc = crc32_combine(crc, r.crc, static_cast<z_off_t>(pieces_[p].length));
      }
      if (!damage && static_cast<std::uint32_t>(crc) != files_[i].crc) damage = EntryDamage::ContentDiffers;
      if (damage) report->damaged.push_back({files_[i].name, *damage});
    }
  }

  const char* directory_;
  const std::vector<FileEntry>& files_;
  const VerifyProgress& progress_;
  std::vector<Piece> pieces_;
  std::vector<PieceResult> results_;  // one per piece, each written by the thread that took it
  std::uint64_t total_ = 0;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::uint64_t> done_{0};
  std::atomic<std::uint64_t> bytesRead_{0};
  std::mutex reportLock_;
};

}  // namespace

std::int32_t VerifyPercent(std::uint64_t done, std::uint64_t total) {
  if (total == 0 || done >= total) return 100;
  return static_cast<std::int32_t>(static_cast<long double>(done) * 100 / static_cast<long double>(total));
}

unsigned VerifyDefaultThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::min(cores == 0 ? 1u : cores, kVerifyMaxDefaultThreads);
}

VerifyReport VerifyClient(const char* clientDirectory, const char* archivePath, const VerifyProgress& progress,
                          const std::vector<std::string>* only, unsigned threads) {
  VerifyReport report;
  if (clientDirectory == nullptr || archivePath == nullptr) return report;
  ZipArchive archive(archivePath);
  if (archive.Get() == nullptr) {
    if (IsEmptyZipArchive(archivePath)) {
      report.outcome = VerifyOutcome::Verified;
      if (progress) progress(0, 0);
    }
    return report;
  }
  unz_global_info64 global;
  if (unzGetGlobalInfo64(archive.Get(), &global) != UNZ_OK) return report;
  std::vector<FileEntry> files;
  std::set<std::string> selected;
  if (only != nullptr) selected.insert(only->begin(), only->end());
  if (!CollectFiles(archive.Get(), clientDirectory, global.number_entry, only != nullptr ? &selected : nullptr, &files,
                    &report))
    return report;
  Verifier verifier(clientDirectory, files, progress);
  verifier.Run(threads == 0 ? VerifyDefaultThreads() : threads, &report);
  report.outcome = VerifyOutcome::Verified;
  return report;
}

}  // namespace update
