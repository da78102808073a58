// Reading the client archive with minizip, shared by the in-place and the
// staged installation: opening it (an archive without entries included), the
// check of every entry name before anything is written, and the extraction of
// one entry into a file with the size and CRC checks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "base/unique_file.h"
#include "update/directory_levels.h"
#include "update/install/directory_tree.h"
#include "update/install/stream_inflate.h"
#include "update/install/zip_entry_header.h"

struct libdeflate_decompressor;

namespace base { class WriteBehind; }
namespace progress { struct ProgressTargets; }

namespace update {

// An entry's header, its name on disk decided as for every reader of the
// archive (update/install/zip_entry_header.h).
using ArchiveEntry = ZipEntryHeader;

// Where an entry's header lies in the central directory, so that another
// reader of the same archive can go straight to it.
struct ArchiveEntryPosition {
  std::uint64_t directoryOffset = 0;
  std::uint64_t index = 0;
};

// Entries up to this size are read whole and inflated in one call, which is
// about twice as fast as a stream for the small files a client has most of,
// and written with one write; larger ones stream through a copy buffer of
// kCopyBufferSize so that memory stays bounded, and go to the disk when
// written (the install floor's measuring program writes files the same way).
constexpr std::uint64_t kWholeEntryLimit = 1u << 20;
// Large pieces keep the number of writes (each a system call under Wine) low
// for large entries: a third of the calls of an 8 KiB buffer.
constexpr std::size_t kCopyBufferSize = 256 * 1024;

enum class ExtractResult {
  Extracted,
  WriteFailed,  // the file or its directories could not be made or written
  Corrupt,      // the entry's data could not be read or failed its check
};

class ArchiveReader {
 public:
  enum class State { Open, Empty, Failed };

  // Opens the archive; Failed logs "Failed to open PATH".
  explicit ArchiveReader(const char* path);
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  State OpenState() const { return state_; }
  std::uint64_t Count() const { return count_; }

  // First pass over the central directory: every name must be representable
  // on disk, stay inside `targetDirectory` and fit its path buffer ("Refused
  // archive entry (NAME)" otherwise, with the name as the archive stores it).
  // Adds every file's staged size (see StagedFileBytes) to `*fileBytes` when
  // not null. With `selection`, only the entries it names (by their names on
  // disk) are checked and counted. `checked` (when set) is called with every
  // entry that passed, in archive order.
  using CheckedVisitor = std::function<void(const ArchiveEntry& entry)>;
  bool CheckNames(const char* targetDirectory, std::uint64_t* fileBytes,
                  const std::set<std::string>* selection = nullptr, const CheckedVisitor& checked = nullptr);

  // Walks every entry from the first, in archive order: reads its header,
  // hands the share of entries done before it to progress->upperTarget (when
  // not null) and calls `visit` with its index, while it is the current entry.
  // False when an entry cannot be reached or read, or as soon as `visit`
  // returns false (the visitor logs its own failure).
  using EntryVisitor = std::function<bool(std::uint64_t index, const ArchiveEntry& entry)>;
  bool VisitEntries(progress::ProgressTargets* progress, const EntryVisitor& visit);

  // The current entry's place, for GoTo on this or another reader.
  bool CurrentPosition(ArchiveEntryPosition* where) const;
  // Makes the entry at `where` the current one.
  bool GoTo(const ArchiveEntryPosition& where);

  // Writes the current entry's data to `path` (creating the directories its
  // levels name, through `directories`), checking its size and CRC. Any
  // failure logs "Failed to extract NAME".
  ExtractResult ExtractCurrent(const ArchiveEntry& entry, const char* path, DirectoryCache* directories);

 private:
  struct DecompressorDeleter {
    void operator()(libdeflate_decompressor* decompressor) const;
  };

  ExtractResult Extract(const ArchiveEntry& entry, const char* path, DirectoryCache* directories);
  // A small entry read whole, inflated in one call and checked before its file is made.
  ExtractResult ExtractWhole(const ArchiveEntry& entry, const char* path, DirectoryCache* directories);
  // Any other entry inflated as it is read, through the copy buffer.
  ExtractResult ExtractStream(const ArchiveEntry& entry, const char* path, DirectoryCache* directories);
  // A stored or deflated entry streamed from its raw data: the launcher's
  // streaming inflater and CRC-32 (minizip's own read copies raw data a byte
  // at a time, inflates with zlib and sums with zlib's slower CRC-32).
  ExtractResult InflateStream(const ArchiveEntry& entry, const char* path, DirectoryCache* directories);
  // Where the current entry's raw data starts in the archive (its local
  // header read and checked).
  bool FindData(std::uint64_t* at);
  // `size` raw bytes at `at`, read straight from the archive's file (for
  // streamed entries: large sequential pieces).
  bool ReadData(std::uint64_t at, void* out, std::size_t size);
  bool ReadCurrent(ArchiveEntry* entry);

  std::string path_;
  void* archive_ = nullptr;  // unzFile
  void* stream_ = nullptr;   // the stream it reads through (ReadZipStream)
  base::UniqueFile data_;    // the archive again, for entries' raw data (opened at the first)
  std::uint64_t dataPosition_ = 0;
  std::unique_ptr<unsigned char[]> streamIn_;  // raw data of a streamed entry
  std::unique_ptr<StreamInflater> inflater_;    // made at the first streamed entry
  std::unique_ptr<base::WriteBehind> writeBehind_;  // made at the first streamed entry too
  State state_ = State::Failed;
  std::uint64_t count_ = 0;
  std::unique_ptr<char[]> buffer_;
  // Made at the first small entry.
  std::unique_ptr<unsigned char[]> wholeIn_;
  std::unique_ptr<unsigned char[]> wholeOut_;
  std::unique_ptr<libdeflate_decompressor, DecompressorDeleter> decompressor_;
};

// "<directory>/<name>" as the installation composes targets.
bool ComposeEntryTarget(char (&out)[kPathSize], const char* directory, const char* name);

}  // namespace update
