// Staging of a large file from its chunks: the chunks an update fetches are
// inflated alone, checked against the manifest and kept in a chunk store
// (named by their SHA-256, so that a later run for the same manifest keeps
// them); the new file is then written in order from the installed file's
// chunks and the fetched ones, every chunk's SHA-256 checked as it is read,
// and the whole file checked (size, CRC-32, SHA-256) before it takes its
// staged name. Memory stays bounded by a few chunks. Pure: stdio, zlib and
// libsodium, no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/body_observer.h"
#include "update/incremental/span_staging.h"
#include "update/manifest/chunk_plan.h"
#include "update/manifest/fetch_plan.h"
#include "update/manifest/manifest.h"

namespace update {

// Inflates the compressed bytes of one chunk alone into exactly `length`
// bytes: false when they do not inflate, give more or fewer bytes, or leave
// input unread. `streamEnded`, when given, tells whether the chunk ended with
// the stream's final block (the last chunk of an entry does, no other).
bool InflateChunkAlone(const char* data, std::size_t size, std::uint64_t length, std::string* out,
                       bool* streamEnded = nullptr);

// Where a fetched chunk is kept below `folder`, and the folder itself.
std::string ChunkStoreFolder(const std::string& folder);
std::string ChunkStorePath(const std::string& folder, const ManifestChunk& chunk);

// A ChunkProbe on files: the installed file below `game`, the chunk store
// below `folder`; each chunk is read and hashed.
class FileChunkProbe : public ChunkProbe {
 public:
  FileChunkProbe(std::string game, std::string folder) : game_(std::move(game)), folder_(std::move(folder)) {}
  bool InstalledHolds(const std::string& name, std::uint64_t from, const ManifestChunk& chunk) override;
  bool FetchedHolds(const ManifestChunk& chunk) override;
  std::uint64_t BytesRead() const { return read_; }

 private:
  std::string game_;
  std::string folder_;
  std::uint64_t read_ = 0;
};

// Whether `length` bytes at `from` of `path` have the chunk's SHA-256
// (`*read` grows by the bytes read).
bool FileHoldsChunk(const std::string& path, std::uint64_t from, const ManifestChunk& chunk, std::uint64_t* read);

// The bytes of one request over chunk pieces (a FetchRange whose `entries`
// index `pieces`), each piece's compressed bytes inflated alone, checked and
// put in the chunk store as soon as they are whole.
class ChunkRangeStager : public PieceStager {
 public:
  ChunkRangeStager(const Manifest& manifest, const std::vector<ChunkPiece>& pieces, const FetchRange& range,
                   std::string folder);

  bool OnBody(const char* data, std::size_t size) override;  // false once a piece failed
  SpanOutcome Finish() override;
  const std::string& FailedName() const override { return failedName_; }
  std::size_t StagedCount() const override { return staged_; }

 private:
  bool EndPiece();

  const Manifest& manifest_;
  const std::vector<ChunkPiece>& pieces_;
  const FetchRange& range_;
  std::string folder_;
  std::uint64_t position_ = 0;
  std::size_t next_ = 0;  // index into range_.entries
  std::string data_;      // the current piece's compressed bytes
  SpanOutcome outcome_ = SpanOutcome::Staged;
  std::string failedName_;
  std::size_t staged_ = 0;
};

enum class RebuildOutcome {
  Staged,
  SourceChanged,  // a chunk to be copied no longer has its SHA-256 (the installed file or the store changed)
  EntryWrong,     // the file written is not the entry (size, CRC-32; each chunk had its SHA-256)
  WriteFailed,
};

// Writes entry `plan.entry` of `manifest` to `stagedPath`, in order, from the
// installed file `installedPath` and the chunk store below `folder`. On
// SourceChanged nothing is staged, and `failed` (when given) lists every
// chunk whose copy did not have its SHA-256: the rest are still read and
// hashed after the first one fails, so that one more fetch can mend them all.
// The chunks are read and hashed on `threads` threads ahead of the writing
// (0: DefaultChunkThreads(); 1: all on the caller's thread).
RebuildOutcome RebuildFile(const Manifest& manifest, const RebuildPlan& plan, const std::string& installedPath,
                           const std::string& folder, const std::string& stagedPath,
                           std::vector<std::size_t>* failed = nullptr, unsigned threads = 0);

}  // namespace update
