#include "update/install/archive_reader.h"

#include <libdeflate.h>
#include <unzip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/bounded_format.h"
#include "base/crc32.h"
#include "base/guards.h"
#include "base/new_file.h"
#include "base/progress_targets.h"
#include "base/stream_position.h"
#include "base/write_behind.h"
#include "update/download_log.h"
#include "update/install/entry_name.h"
#include "update/transfer_rules.h"
#include "update/install/zip_archive.h"

namespace update {

namespace {

// The inflater's source and sink from two callables.
template <class Next>
class PieceSource final : public InflateSource {
 public:
  explicit PieceSource(const Next& next) : next_(next) {}
  bool NextPiece(const unsigned char** data, std::size_t* size) override { return next_(data, size); }

 private:
  const Next& next_;
};

template <class Put>
class PieceSink final : public InflateSink {
 public:
  explicit PieceSink(const Put& put) : put_(put) {}
  bool Take(const unsigned char* data, std::size_t size) override { return put_(data, size); }

 private:
  const Put& put_;
};

// Incompressible data grows a little in deflate's stored blocks.
constexpr std::uint64_t kWholeCompressedLimit = kWholeEntryLimit + kWholeEntryLimit / 16 + 64;

constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint16_t kEncryptedFlag = 1;

bool ReadsWhole(const ArchiveEntry& entry) {
  return (entry.flags & kEncryptedFlag) == 0 && (entry.method == kStored || entry.method == kDeflated) &&
         entry.size <= kWholeEntryLimit && entry.compressedSize <= kWholeCompressedLimit;
}

}  // namespace

void ArchiveReader::DecompressorDeleter::operator()(libdeflate_decompressor* decompressor) const {
  libdeflate_free_decompressor(decompressor);
}

bool ComposeEntryTarget(char (&out)[kPathSize], const char* directory, const char* name) {
  return base::FormatInto(out, sizeof out, "%s/%s", directory, name);
}

ArchiveReader::ArchiveReader(const char* path) : path_(path), buffer_(std::make_unique<char[]>(kCopyBufferSize)) {
  unzFile archive = OpenZipForReading(path, &stream_);
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

bool ArchiveReader::CurrentPosition(ArchiveEntryPosition* where) const {
  unz64_file_pos position;
  if (unzGetFilePos64(static_cast<unzFile>(archive_), &position) != UNZ_OK) return false;
  where->directoryOffset = position.pos_in_zip_directory;
  where->index = position.num_of_file;
  return true;
}

bool ArchiveReader::GoTo(const ArchiveEntryPosition& where) {
  unz64_file_pos position;
  position.pos_in_zip_directory = where.directoryOffset;
  position.num_of_file = where.index;
  return unzGoToFilePos64(static_cast<unzFile>(archive_), &position) == UNZ_OK;
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
  return ReadsWhole(entry) ? ExtractWhole(entry, path, directories) : ExtractStream(entry, path, directories);
}

ExtractResult ArchiveReader::ExtractWhole(const ArchiveEntry& entry, const char* path, DirectoryCache* directories) {
  if (!wholeIn_) {
    wholeIn_ = std::make_unique<unsigned char[]>(kWholeCompressedLimit);
    wholeOut_ = std::make_unique<unsigned char[]>(kWholeEntryLimit);
    decompressor_.reset(libdeflate_alloc_decompressor());
    if (!decompressor_) return ExtractResult::Corrupt;
  }
  const std::size_t packed = static_cast<std::size_t>(entry.compressedSize);
  const std::size_t size = static_cast<std::size_t>(entry.size);
  // Raw: the entry's bytes as the archive holds them, checked below. They
  // come from the archive's own windows, which reading the local header has
  // just filled from its start: a small entry costs no further read of the
  // file and, where one window holds it all, not even a copy (nothing reads
  // the archive again before its file is written). Most often neither does
  // the next one's header.
  std::uint64_t at = 0;
  if (!FindData(&at)) return ExtractResult::Corrupt;
  const unsigned char* data = wholeIn_.get();
  if (packed != 0) {
    if (const unsigned char* view = ZipStreamWindowView(stream_, at, packed)) {
      data = view;
    } else if (!ReadZipStream(stream_, at, wholeIn_.get(), packed)) {
      return ExtractResult::Corrupt;
    }
  }
  // An empty file may come without even an empty deflate stream.
  if (entry.method == kDeflated && !(size == 0 && packed == 0)) {
    std::size_t inflated = 0;
    if (libdeflate_deflate_decompress(decompressor_.get(), data, packed, wholeOut_.get(), size,
                                      &inflated) != LIBDEFLATE_SUCCESS ||
        inflated != size)
      return ExtractResult::Corrupt;
    data = wholeOut_.get();
  } else if (packed != size) {
    return ExtractResult::Corrupt;
  }
  if (base::Crc32(0, data, size) != entry.crc) return ExtractResult::Corrupt;
  if (!CreateDirectoryTree(path, LastLevel::FileName, directories)) return ExtractResult::WriteFailed;
  base::UniqueFile file(base::OpenNewFile(path));
  if (!file) return ExtractResult::WriteFailed;
  if (size != 0 && std::fwrite(data, 1, size, file.Get()) != size) return ExtractResult::WriteFailed;
  return file.Close() ? ExtractResult::Extracted : ExtractResult::WriteFailed;
}

bool ArchiveReader::FindData(std::uint64_t* at) {
  // Opening the entry raw reads and checks its local header; its data start
  // is then known, and the data is read straight from the file.
  unzFile archive = static_cast<unzFile>(archive_);
  int method = 0;
  int level = 0;
  if (unzOpenCurrentFile2(archive, &method, &level, 1) != UNZ_OK) return false;
  *at = unzGetCurrentFileZStreamPos64(archive);
  unzCloseCurrentFile(archive);
  return *at != 0;
}

bool ArchiveReader::ReadData(std::uint64_t at, void* out, std::size_t size) {
  if (size == 0) return true;
  if (!data_) {
    data_.Reset(std::fopen(path_.c_str(), "rb"));
    if (!data_) return false;
    // Every read is of a whole entry or a large piece: the stream's own
    // buffer would only add a copy.
    std::setvbuf(data_.Get(), nullptr, _IONBF, 0);
    dataPosition_ = ~std::uint64_t{0};
  }
  if (at != dataPosition_ && !base::SeekTo(data_.Get(), at)) {
    dataPosition_ = ~std::uint64_t{0};
    return false;
  }
  const std::size_t got = std::fread(out, 1, size, data_.Get());
  dataPosition_ = got == size ? at + size : ~std::uint64_t{0};
  return got == size;
}

ExtractResult ArchiveReader::ExtractStream(const ArchiveEntry& entry, const char* path, DirectoryCache* directories) {
  if ((entry.flags & kEncryptedFlag) == 0 && (entry.method == kStored || entry.method == kDeflated))
    return InflateStream(entry, path, directories);
  unzFile archive = static_cast<unzFile>(archive_);
  OpenZipEntry open(archive);
  if (!open.IsOpen()) return ExtractResult::Corrupt;
  if (!CreateDirectoryTree(path, LastLevel::FileName, directories)) return ExtractResult::WriteFailed;
  base::UniqueFile file(base::OpenNewFile(path));
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
      if (!base::FlushToDisk(file.Get()) || !file.Close()) return ExtractResult::WriteFailed;
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

ExtractResult ArchiveReader::InflateStream(const ArchiveEntry& entry, const char* path, DirectoryCache* directories) {
  if (!streamIn_) streamIn_ = std::make_unique<unsigned char[]>(kCopyBufferSize);
  if (!writeBehind_) writeBehind_ = std::make_unique<base::WriteBehind>();
  std::uint64_t at = 0;
  if (!FindData(&at)) return ExtractResult::Corrupt;
  if (entry.method == kStored && entry.compressedSize != entry.size) return ExtractResult::Corrupt;
  if (!CreateDirectoryTree(path, LastLevel::FileName, directories)) return ExtractResult::WriteFailed;
  base::UniqueFile file(base::OpenNewFile(path));
  if (!file) return ExtractResult::WriteFailed;
  // A large staged file goes to the disk while it is written, and is flushed
  // once more when it is whole, on the thread that wrote it: the other
  // staging threads go on inflating meanwhile, the commit's flush of its
  // journal then finds little left to write, and the moves never point at
  // data that is still only in memory.
  base::WriteBehindFile behind(writeBehind_.get(), file.Get());
  // The raw data in pieces of the copy buffer.
  std::uint64_t left = entry.compressedSize;
  const auto nextPiece = [&](const unsigned char** data, std::size_t* size) {
    const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, kCopyBufferSize));
    if (!ReadData(at, streamIn_.get(), piece)) return false;
    at += piece;
    left -= piece;
    *data = streamIn_.get();
    *size = piece;
    return true;
  };
  // Every piece summed and written; no more than the entry's size.
  std::uint64_t written = 0;
  std::uint32_t crc = 0;
  bool tooLong = false;
  const auto take = [&](const unsigned char* data, std::size_t n) {
    if (n > entry.size - written) {
      tooLong = true;
      return false;
    }
    crc = base::Crc32(crc, data, n);
    written += n;
    if (std::fwrite(data, 1, n, file.Get()) != n) return false;
    behind.Wrote(written);
    return true;
  };
  if (entry.method == kStored) {
    while (left > 0) {
      const unsigned char* data = nullptr;
      std::size_t n = 0;
      if (!nextPiece(&data, &n)) return ExtractResult::Corrupt;
      if (!take(data, n)) return tooLong ? ExtractResult::Corrupt : ExtractResult::WriteFailed;
    }
  } else {
    if (!inflater_) inflater_ = std::make_unique<StreamInflater>();
    PieceSource<decltype(nextPiece)> source(nextPiece);
    PieceSink<decltype(take)> sink(take);
    const InflateResult inflated = inflater_->Inflate(source, sink);
    if (inflated.outcome == InflateOutcome::SinkStopped && !tooLong) return ExtractResult::WriteFailed;
    // The stream ends exactly with the entry's data: nothing may follow it.
    if (inflated.outcome != InflateOutcome::Ended || inflated.trailingBytes > 0 || left > 0)
      return ExtractResult::Corrupt;
  }
  if (written != entry.size || crc != entry.crc) return ExtractResult::Corrupt;
  if (!base::FlushToDisk(file.Get()) || !file.Close()) return ExtractResult::WriteFailed;
  return ExtractResult::Extracted;
}

}  // namespace update
