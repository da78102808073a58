#include "update/incremental/chunk_staging.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "base/crc32.h"
#include "base/make_directory.h"
#include "base/new_file.h"
#include "base/stream_position.h"
#include "base/unique_file.h"
#include "update/incremental/chunk_read_ahead.h"
#include "update/install/raw_inflate.h"

namespace update {

namespace {

bool HasDigest(const std::string& bytes, const Sha256Digest& digest) {
  unsigned char got[Sha256::kDigestBytes];
  Sha256::Digest(bytes.data(), bytes.size(), got);
  return std::memcmp(got, digest.bytes, sizeof got) == 0;
}

// Exactly `length` bytes at `from` of an open file.
bool ReadAt(FILE* file, std::uint64_t from, std::uint64_t length, std::string* out) {
  if (length > kMaxChunkBytes || !base::SeekTo(file, from)) return false;
  out->resize(static_cast<std::size_t>(length));
  return length == 0 || std::fread(&(*out)[0], 1, out->size(), file) == out->size();
}

}  // namespace

bool InflateChunkAlone(const char* data, std::size_t size, std::uint64_t length, std::string* out,
                       bool* streamEnded) {
  if (length > kMaxChunkBytes) return false;
  RawInflate inflater;
  if (!inflater.ready) return false;
  // One byte of room past the chunk tells a chunk that would give more.
  out->resize(static_cast<std::size_t>(length) + 1);
  inflater.stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  inflater.stream.avail_in = static_cast<uInt>(size);
  inflater.stream.next_out = reinterpret_cast<Bytef*>(&(*out)[0]);
  inflater.stream.avail_out = static_cast<uInt>(out->size());
  const int status = inflate(&inflater.stream, Z_SYNC_FLUSH);
  const std::size_t produced = out->size() - inflater.stream.avail_out;
  out->resize(produced);
  // A chunk ends with a full flush (an empty stored block) or with the end of
  // the stream; either way all its bytes are read.
  if (streamEnded != nullptr) *streamEnded = status == Z_STREAM_END;
  const bool ended = status == Z_STREAM_END || status == Z_OK || status == Z_BUF_ERROR;
  return ended && inflater.stream.avail_in == 0 && produced == length;
}

std::string ChunkStoreFolder(const std::string& folder) { return folder + "/chunks"; }

std::string ChunkStorePath(const std::string& folder, const ManifestChunk& chunk) {
  char hex[kSha256HexSize];
  FormatSha256Hex(chunk.sha256, hex);
  return ChunkStoreFolder(folder) + "/" + hex;
}

bool FileHoldsChunk(const std::string& path, std::uint64_t from, const ManifestChunk& chunk, std::uint64_t* read) {
  base::UniqueFile file(std::fopen(path.c_str(), "rb"));
  std::string bytes;
  if (!file || !ReadAt(file.Get(), from, chunk.length, &bytes)) return false;
  *read += bytes.size();
  return HasDigest(bytes, chunk.sha256);
}

bool FileChunkProbe::InstalledHolds(const std::string& name, std::uint64_t from, const ManifestChunk& chunk) {
  return FileHoldsChunk(game_ + "/" + name, from, chunk, &read_);
}

bool FileChunkProbe::FetchedHolds(const ManifestChunk& chunk) {
  return FileHoldsChunk(ChunkStorePath(folder_, chunk), 0, chunk, &read_);
}

ChunkRangeStager::ChunkRangeStager(const Manifest& manifest, const std::vector<ChunkPiece>& pieces,
                                   const FetchRange& range, std::string folder)
    : manifest_(manifest), pieces_(pieces), range_(range), folder_(std::move(folder)), position_(range.offset) {}

bool ChunkRangeStager::EndPiece() {
  const ChunkPiece& piece = pieces_[range_.entries[next_]];
  const ManifestEntry& entry = manifest_.entries[piece.entry];
  const ManifestChunk& chunk = entry.chunks[piece.chunk];
  std::string bytes;
  const bool good = InflateChunkAlone(data_.data(), data_.size(), chunk.length, &bytes) && HasDigest(bytes, chunk.sha256);
  data_.clear();
  if (!good) {
    outcome_ = SpanOutcome::EntryWrong;
    failedName_ = entry.storedName;
    return false;
  }
  base::MakeDirectory(ChunkStoreFolder(folder_).c_str());
  const std::string path = ChunkStorePath(folder_, chunk);
  const std::string part = path + ".part";
  base::UniqueFile out(base::OpenNewFile(part.c_str()));
  const bool written = out && std::fwrite(bytes.data(), 1, bytes.size(), out.Get()) == bytes.size() && out.Close();
  std::remove(path.c_str());
  if (!written || std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    outcome_ = SpanOutcome::WriteFailed;
    failedName_ = entry.storedName;
    return false;
  }
  ++staged_;
  ++next_;
  return true;
}

bool ChunkRangeStager::OnBody(const char* data, std::size_t size) {
  if (outcome_ != SpanOutcome::Staged) return false;
  while (size != 0) {
    if (next_ == range_.entries.size()) {
      outcome_ = SpanOutcome::SpanWrong;  // past the last piece
      return false;
    }
    const ChunkPiece& piece = pieces_[range_.entries[next_]];
    const ManifestEntry& entry = manifest_.entries[piece.entry];
    const ManifestChunk& chunk = entry.chunks[piece.chunk];
    const std::uint64_t at = entry.ChunkDataAt(chunk);
    if (position_ < at) {  // a gap between two pieces
      const std::uint64_t gap = at - position_;
      const std::size_t skip = gap < size ? static_cast<std::size_t>(gap) : size;
      position_ += skip;
      data += skip;
      size -= skip;
      continue;
    }
    const std::uint64_t left = at + chunk.dataLength - position_;
    const std::size_t take = left < size ? static_cast<std::size_t>(left) : size;
    data_.append(data, take);
    position_ += take;
    data += take;
    size -= take;
    if (data_.size() == chunk.dataLength && !EndPiece()) return false;
  }
  return true;
}

SpanOutcome ChunkRangeStager::Finish() {
  if (outcome_ != SpanOutcome::Staged) return outcome_;
  if (next_ != range_.entries.size()) {
    failedName_ = manifest_.entries[pieces_[range_.entries[next_]].entry].storedName;
    return outcome_ = SpanOutcome::SpanWrong;  // the transfer ended inside or before a piece
  }
  return SpanOutcome::Staged;
}

RebuildOutcome RebuildFile(const Manifest& manifest, const RebuildPlan& plan, const std::string& installedPath,
                           const std::string& folder, const std::string& stagedPath, std::vector<std::size_t>* failed,
                           unsigned threads) {
  if (failed != nullptr) failed->clear();
  const ManifestEntry& entry = manifest.entries[plan.entry];
  if (plan.sources.size() != entry.chunks.size()) return RebuildOutcome::EntryWrong;
  const std::string partPath = stagedPath + ".part";
  base::UniqueFile file(base::OpenNewFile(partPath.c_str()));
  if (!file) return RebuildOutcome::WriteFailed;
  // Each chunk is read and hashed on its own (on the helper threads when
  // there are several), what the plan counted on checked again as it is
  // copied; this thread writes them in order. The chunks tile the file (the
  // manifest is refused otherwise) and each is checked against the signed
  // manifest's SHA-256, so every byte written is vouched for: the whole file
  // is checked against its size and CRC-32 (a manifest at odds with itself)
  // without hashing it all a second time, which was serial work as large as
  // all the chunks' hashes together.
  const unsigned workers = threads == 0 ? DefaultChunkThreads() : threads;
  struct InstalledFile {
    base::UniqueFile file;
    bool opened = false;
  };
  std::vector<InstalledFile> installed(workers);  // one per thread, each touched by its own
  // Each chunk's CRC-32, computed where it is hashed; the writer joins them.
  std::vector<std::uint32_t> chunkCrcs(entry.chunks.size());
  ChunkReadAhead chunks(entry.chunks.size(), workers, [&](unsigned worker, std::size_t i, std::string* bytes) {
    const ManifestChunk& chunk = entry.chunks[i];
    const ChunkSource& source = plan.sources[i];
    bool read = false;
    if (source.kind == ChunkSourceKind::Installed) {
      InstalledFile& mine = installed[worker];
      if (!mine.opened) {
        mine.file.Reset(std::fopen(installedPath.c_str(), "rb"));
        mine.opened = true;
      }
      read = mine.file && ReadAt(mine.file.Get(), source.from, chunk.length, bytes);
    } else {
      base::UniqueFile stored(std::fopen(ChunkStorePath(folder, chunk).c_str(), "rb"));
      read = stored && ReadAt(stored.Get(), 0, chunk.length, bytes);
    }
    if (!read || !HasDigest(*bytes, chunk.sha256)) return false;
    chunkCrcs[i] = base::Crc32(0, bytes->data(), bytes->size());
    return true;
  });
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  std::string bytes;
  RebuildOutcome outcome = RebuildOutcome::Staged;
  for (std::size_t i = 0; i < entry.chunks.size(); ++i) {
    const bool writing = outcome == RebuildOutcome::Staged;
    if (!writing && outcome != RebuildOutcome::SourceChanged) break;
    if (!writing && failed == nullptr) break;
    if (!chunks.Next(&bytes)) {
      outcome = RebuildOutcome::SourceChanged;
      if (failed != nullptr) failed->push_back(i);
    } else if (!writing) {
      continue;
    } else if (std::fwrite(bytes.data(), 1, bytes.size(), file.Get()) != bytes.size()) {
      outcome = RebuildOutcome::WriteFailed;
    } else {
      size += bytes.size();
      crc = static_cast<std::uint32_t>(crc32_combine(crc, chunkCrcs[i], static_cast<z_off_t>(bytes.size())));
    }
  }
  if (!file.Close() && outcome == RebuildOutcome::Staged) outcome = RebuildOutcome::WriteFailed;
  if (outcome == RebuildOutcome::Staged && (size != entry.size || crc != entry.crc)) outcome = RebuildOutcome::EntryWrong;
  if (outcome != RebuildOutcome::Staged) {
    std::remove(partPath.c_str());
    return outcome;
  }
  std::remove(stagedPath.c_str());
  if (std::rename(partPath.c_str(), stagedPath.c_str()) != 0) {
    std::remove(partPath.c_str());
    return RebuildOutcome::WriteFailed;
  }
  return RebuildOutcome::Staged;
}

}  // namespace update
