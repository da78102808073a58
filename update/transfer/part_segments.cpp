#include "update/transfer/part_segments.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace update {

void AddSpan(ByteSpans* spans, ByteSpan span) {
  if (span.begin >= span.end) return;
  // The first span that ends at or after the new one's start may touch it.
  auto at = std::lower_bound(spans->begin(), spans->end(), span.begin,
                             [](const ByteSpan& s, std::uint64_t begin) { return s.end < begin; });
  auto last = at;
  while (last != spans->end() && last->begin <= span.end) {
    span.begin = std::min(span.begin, last->begin);
    span.end = std::max(span.end, last->end);
    ++last;
  }
  at = spans->erase(at, last);
  spans->insert(at, span);
}

std::uint64_t SpanBytes(const ByteSpans& spans) {
  std::uint64_t bytes = 0;
  for (const ByteSpan& span : spans) bytes += span.end - span.begin;
  return bytes;
}

ByteSpans MissingSpans(const ByteSpans& done, std::uint64_t size) {
  ByteSpans missing;
  std::uint64_t at = 0;
  for (const ByteSpan& span : done) {
    if (span.begin >= size) break;
    if (span.begin > at) missing.push_back({at, span.begin});
    at = std::max(at, span.end);
  }
  if (at < size) missing.push_back({at, size});
  return missing;
}

std::uint64_t DoneRunEnd(const ByteSpans& done, std::uint64_t from) {
  for (const ByteSpan& span : done) {
    if (span.begin <= from && from < span.end) return span.end;
  }
  return from;
}

bool FetchInSegments(std::uint64_t size, std::int32_t connections) {
  return connections > 1 && size >= kSegmentedMinimumBytes;
}

ByteSpans CutIntoSegments(const ByteSpans& missing, std::int32_t connections) {
  ByteSpans pieces;
  for (const ByteSpan& span : missing) {
    const std::uint64_t length = span.end - span.begin;
    const std::uint64_t count = (length + kSegmentMaximumBytes - 1) / kSegmentMaximumBytes;
    // Pieces of one span are of equal length (the last one a little shorter),
    // so that connections at the same speed end together.
    const std::uint64_t each = (length + count - 1) / count;
    for (std::uint64_t at = span.begin; at < span.end; at += each) pieces.push_back({at, std::min(span.end, at + each)});
  }
  const std::size_t wanted = connections > 1 ? static_cast<std::size_t>(connections) : 1;
  while (pieces.size() < wanted) {
    auto largest = std::max_element(pieces.begin(), pieces.end(), [](const ByteSpan& a, const ByteSpan& b) {
      return a.end - a.begin < b.end - b.begin;
    });
    if (largest == pieces.end() || (largest->end - largest->begin) / 2 < kSegmentMinimumBytes) break;
    const std::uint64_t middle = largest->begin + (largest->end - largest->begin + 1) / 2;
    const ByteSpan second{middle, largest->end};
    largest->end = middle;
    pieces.insert(largest + 1, second);
  }
  return pieces;
}

std::string FormatSegmentRecord(const Sha256Digest& digest, const ByteSpans& done) {
  char hex[kSha256HexSize] = {};
  FormatSha256Hex(digest, hex);
  std::string text(hex);
  text += "\nsegments\n";
  for (const ByteSpan& span : done)
    text += "done " + std::to_string(span.begin) + "-" + std::to_string(span.end) + "\n";
  return text;
}

namespace {

// Decimal digits only, no more than fit in 64 bits; moves `text` past them.
bool TakeNumber(std::string_view* text, std::uint64_t* out) {
  std::uint64_t value = 0;
  std::size_t digits = 0;
  while (digits < text->size() && (*text)[digits] >= '0' && (*text)[digits] <= '9') {
    const std::uint64_t digit = static_cast<std::uint64_t>((*text)[digits] - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
    ++digits;
  }
  if (digits == 0) return false;
  text->remove_prefix(digits);
  *out = value;
  return true;
}

bool ParseDoneLine(std::string_view line, ByteSpan* span) {
  constexpr std::string_view kDone = "done ";
  if (line.substr(0, kDone.size()) != kDone) return false;
  line.remove_prefix(kDone.size());
  if (!TakeNumber(&line, &span->begin) || line.empty() || line[0] != '-') return false;
  line.remove_prefix(1);
  return TakeNumber(&line, &span->end) && line.empty();
}

}  // namespace

namespace {

PartRecordKind ParseRecordLines(const char* text, std::size_t length, const Sha256Digest& digest,
                                std::uint64_t size, ByteSpans* done) {
  if (text == nullptr) return PartRecordKind::Other;
  std::string_view rest(text, length);
  bool first = true;
  bool marked = false;
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    // Every line ends with a line end but the digest line, which was once
    // written without one.
    if (newline == std::string_view::npos && !first) return PartRecordKind::Other;
    std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (first) {
      if (line.size() != kSha256HexSize - 1) return PartRecordKind::Other;
      char hex[kSha256HexSize] = {};
      std::memcpy(hex, line.data(), line.size());
      Sha256Digest recorded;
      if (!ParseSha256Hex(hex, &recorded) || std::memcmp(recorded.bytes, digest.bytes, sizeof digest.bytes) != 0)
        return PartRecordKind::Other;
      first = false;
      continue;
    }
    if (!marked) {
      if (line != "segments") return PartRecordKind::Other;
      marked = true;
      continue;
    }
    ByteSpan span;
    if (!ParseDoneLine(line, &span) || span.begin >= span.end || span.end > size ||
        (!done->empty() && span.begin <= done->back().end))
      return PartRecordKind::Other;
    done->push_back(span);
  }
  if (first) return PartRecordKind::Other;
  return marked ? PartRecordKind::Segments : PartRecordKind::InOrder;
}

}  // namespace

PartRecordKind ParseSegmentRecord(const char* text, std::size_t length, const Sha256Digest& digest,
                                  std::uint64_t size, ByteSpans* done) {
  done->clear();
  const PartRecordKind kind = ParseRecordLines(text, length, digest, size, done);
  if (kind != PartRecordKind::Segments) done->clear();  // spans only ever come with the marker
  return kind;
}

}  // namespace update
