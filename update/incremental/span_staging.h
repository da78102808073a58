// Staging of the entries an update fetches as spans of the archive: each
// raw span (local header, name, extra field, compressed data) is checked
// against the manifest's size and SHA-256 before anything of it is inflated,
// and the inflated file against the entry's size, CRC-32 and SHA-256 before
// it takes its staged name. A staged file therefore exists only when it is
// the entry, which is what lets a later run keep it instead of fetching it
// again. Memory stays bounded: a span larger than kSpanMemoryLimit is kept in
// a file beside its staged name until it is checked. Pure: stdio, zlib and
// libsodium, no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_file.h"
#include "update/body_observer.h"
#include "update/manifest/fetch_plan.h"
#include "update/manifest/manifest.h"
#include "update/trust/sha256.h"

namespace update {

constexpr std::size_t kSpanMemoryLimit = std::size_t{8} << 20;

enum class SpanOutcome {
  Staged,
  SpanWrong,    // the raw bytes are not the span the manifest names (size or SHA-256)
  EntryWrong,   // the span's header or data do not give the entry (name, method, size, CRC-32, SHA-256)
  WriteFailed,  // the staged file could not be written
};

// Where entry `index` of a manifest is staged below `directory`: its staged
// name (update/install/commit_journal.h), with "/" separators. Makes the
// folder it lies in.
std::string StagedEntryPath(const std::string& directory, std::size_t index, bool makeFolder);

// Stages one entry from its raw span, fed in order.
class SpanStager {
 public:
  SpanStager(const ManifestEntry& entry, std::string stagedPath);
  ~SpanStager();
  SpanStager(const SpanStager&) = delete;
  SpanStager& operator=(const SpanStager&) = delete;

  // False once more bytes arrive than the span holds, or its spill file fails.
  bool Add(const char* data, std::size_t size);
  // After the last byte: checks, inflates, checks again, and renames.
  SpanOutcome Finish();
  bool Complete() const { return received_ == entry_.spanLength; }

 private:
  SpanOutcome Inflate();

  const ManifestEntry& entry_;
  std::string stagedPath_;
  std::uint64_t received_ = 0;
  Sha256 hash_;
  std::string memory_;           // the span, while it stays under the limit
  base::UniqueFile spill_;       // the span, once it does not
  SpanOutcome failure_ = SpanOutcome::Staged;  // Staged while nothing has gone wrong
};

// What stages the bytes of one request, piece by piece (an entry's span, or a
// chunk of a large file).
class PieceStager : public BodyObserver {
 public:
  // After the transfer ended: Staged when every piece of the range is.
  virtual SpanOutcome Finish() = 0;
  // The entry whose piece failed (its stored name), and how many pieces were
  // staged before.
  virtual const std::string& FailedName() const = 0;
  virtual std::size_t StagedCount() const = 0;
};

// The bytes of one request (a FetchRange), split into the spans of the
// entries it covers; the gap bytes between them are passed over. Each entry
// is staged as soon as its span is whole.
class RangeStager : public PieceStager {
 public:
  RangeStager(const Manifest& manifest, const FetchRange& range, std::string directory);
  ~RangeStager() override;

  bool OnBody(const char* data, std::size_t size) override;  // false once an entry failed
  SpanOutcome Finish() override;
  const std::string& FailedName() const override { return failedName_; }
  std::size_t StagedCount() const override { return staged_; }

 private:
  bool EndCurrent();

  const Manifest& manifest_;
  const FetchRange& range_;
  std::string directory_;
  std::uint64_t position_ = 0;   // archive offset of the next byte
  std::size_t next_ = 0;         // index into range_.entries
  std::unique_ptr<SpanStager> current_;  // the entry whose span is arriving
  SpanOutcome outcome_ = SpanOutcome::Staged;
  std::string failedName_;
  std::size_t staged_ = 0;
};

}  // namespace update
