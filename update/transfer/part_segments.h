// A whole archive fetched over several connections at once: which bytes of
// its part are done, how the missing ones are cut into segments (one range
// request each), and the record beside the part that says which bytes are
// done. Segments write into the part at their own offsets, so the part's
// size no longer tells how much of it is there: the record does. It keeps
// the digest line the part record always had (a part without a record naming
// the archive's digest is never continued), followed by a "segments" line
// and one "done FIRST-END" line per run of done bytes. A record of the digest
// line alone is a part written in order from byte 0: its size is what is
// done. Pure: no windows.h, no curl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/trust/archive_digest.h"

namespace update {

// The bytes [begin, end) of a file.
struct ByteSpan {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
  bool operator==(const ByteSpan& other) const { return begin == other.begin && end == other.end; }
};

// Spans kept sorted, disjoint and apart (touching spans are joined).
using ByteSpans = std::vector<ByteSpan>;

void AddSpan(ByteSpans* spans, ByteSpan span);
std::uint64_t SpanBytes(const ByteSpans& spans);
// The bytes of [0, size) that `done` does not hold.
ByteSpans MissingSpans(const ByteSpans& done, std::uint64_t size);
// Where the run of done bytes that holds `from` ends (`from` itself when
// `from` is not done).
std::uint64_t DoneRunEnd(const ByteSpans& done, std::uint64_t from);

// Only an archive of a known size of at least this many bytes is fetched in
// segments: the descriptor, its signature and the manifest are small, and a
// small archive gains less than a connection's set-up costs.
constexpr std::uint64_t kSegmentedMinimumBytes = 4u << 20;
// Segments are no smaller than this (a request costs a round trip) and no
// larger than the second (the digest is taken in order: a segment ahead of
// the in-order part is read back from disk when the part reaches it, so
// smaller segments keep that read short and the connections busy to the end).
constexpr std::uint64_t kSegmentMinimumBytes = 1u << 20;
constexpr std::uint64_t kSegmentMaximumBytes = 64u << 20;

bool FetchInSegments(std::uint64_t size, std::int32_t connections);

// The missing spans cut into segments, in file order: each span into pieces
// of at most kSegmentMaximumBytes, then the largest pieces halved until
// there are `connections` of them or halving would go below
// kSegmentMinimumBytes.
ByteSpans CutIntoSegments(const ByteSpans& missing, std::int32_t connections);

// The record: the digest line, "segments", then one "done FIRST-END" line per span.
std::string FormatSegmentRecord(const Sha256Digest& digest, const ByteSpans& done);

enum class PartRecordKind {
  Other,     // missing, cut, another digest, or lines that do not parse
  InOrder,   // the digest line alone: the part's size is what is done
  Segments,  // the digest line and the done spans (none when nothing is done yet)
};
// Reads a record of `length` bytes. Spans out of order, overlapping,
// touching, empty or past `size` make it Other.
PartRecordKind ParseSegmentRecord(const char* text, std::size_t length, const Sha256Digest& digest,
                                  std::uint64_t size, ByteSpans* done);

}  // namespace update
