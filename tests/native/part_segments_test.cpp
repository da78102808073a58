// A whole archive in segments: which bytes of the part are done, how the
// missing ones are cut, and the record that names them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "update/transfer/part_segments.h"

namespace {

using update::ByteSpan;
using update::ByteSpans;
using update::PartRecordKind;

constexpr std::uint64_t kMiB = 1u << 20;

TEST(PartSegments, SpansAreKeptSortedAndJoined) {
  struct Case {
    const char* label;
    ByteSpans before;
    ByteSpan added;
    ByteSpans after;
  } const cases[] = {
      {"into nothing", {}, {5, 10}, {{5, 10}}},
      {"empty span", {{5, 10}}, {7, 7}, {{5, 10}}},
      {"before, apart", {{20, 30}}, {0, 10}, {{0, 10}, {20, 30}}},
      {"touching the end", {{0, 10}}, {10, 20}, {{0, 20}}},
      {"touching the start", {{10, 20}}, {0, 10}, {{0, 20}}},
      {"filling a gap", {{0, 10}, {20, 30}}, {10, 20}, {{0, 30}}},
      {"over several", {{0, 5}, {8, 9}, {12, 15}, {40, 50}}, {3, 13}, {{0, 15}, {40, 50}}},
      {"inside one", {{0, 100}}, {10, 20}, {{0, 100}}},
  };
  for (const Case& c : cases) {
    ByteSpans spans = c.before;
    update::AddSpan(&spans, c.added);
    EXPECT_EQ(c.after, spans) << c.label;
  }
}

TEST(PartSegments, MissingBytesAndTheRunOfDoneOnes) {
  const ByteSpans done = {{0, 10}, {20, 30}, {35, 40}};
  EXPECT_EQ(ByteSpans({{10, 20}, {30, 35}, {40, 50}}), update::MissingSpans(done, 50));
  EXPECT_EQ(ByteSpans({{10, 20}, {30, 35}}), update::MissingSpans(done, 40));
  EXPECT_EQ(ByteSpans({{0, 50}}), update::MissingSpans({}, 50));
  EXPECT_EQ(25u, update::SpanBytes(done));
  EXPECT_EQ(10u, update::DoneRunEnd(done, 0));
  EXPECT_EQ(10u, update::DoneRunEnd(done, 10)) << "not done: stays";
  EXPECT_EQ(30u, update::DoneRunEnd(done, 25));
}

TEST(PartSegments, OnlyLargeArchivesOverSeveralConnectionsAreSegmented) {
  EXPECT_TRUE(update::FetchInSegments(4 * kMiB, 2));
  EXPECT_FALSE(update::FetchInSegments(4 * kMiB - 1, 4));
  EXPECT_FALSE(update::FetchInSegments(1u << 30, 1));
  EXPECT_FALSE(update::FetchInSegments(1u << 30, 0));
}

TEST(PartSegments, MissingBytesAreCutForTheConnections) {
  struct Case {
    const char* label;
    ByteSpans missing;
    std::int32_t connections;
    ByteSpans segments;
  } const cases[] = {
      {"one span, four connections", {{0, 24 * kMiB}}, 4,
       {{0, 6 * kMiB}, {6 * kMiB, 12 * kMiB}, {12 * kMiB, 18 * kMiB}, {18 * kMiB, 24 * kMiB}}},
      {"one connection", {{0, 24 * kMiB}}, 1, {{0, 24 * kMiB}}},
      {"no piece below 1 MiB", {{0, 3 * kMiB}}, 8, {{0, 3 * kMiB / 2}, {3 * kMiB / 2, 3 * kMiB}}},
      {"too small to halve", {{0, kMiB + 5}}, 4, {{0, kMiB + 5}}},
      {"at most 64 MiB a piece", {{0, 200 * kMiB}}, 2,
       {{0, 50 * kMiB}, {50 * kMiB, 100 * kMiB}, {100 * kMiB, 150 * kMiB}, {150 * kMiB, 200 * kMiB}}},
      {"the largest span is halved first", {{0, 2 * kMiB}, {10 * kMiB, 18 * kMiB}}, 3,
       {{0, 2 * kMiB}, {10 * kMiB, 14 * kMiB}, {14 * kMiB, 18 * kMiB}}},
      {"nothing missing", {}, 4, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(c.segments, update::CutIntoSegments(c.missing, c.connections)) << c.label;
}

update::Sha256Digest DigestOf(std::uint8_t fill) {
  update::Sha256Digest digest;
  std::memset(digest.bytes, fill, sizeof digest.bytes);
  return digest;
}

TEST(PartSegments, RecordNamesItsDigestAndOnlyWellFormedSpans) {
  const update::Sha256Digest digest = DigestOf(0x5c);
  const std::string written = update::FormatSegmentRecord(digest, {{0, 100}, {200, 300}});
  const std::string hex = written.substr(0, 64);
  EXPECT_EQ(hex + "\nsegments\ndone 0-100\ndone 200-300\n", written);
  struct Case {
    const char* label;
    std::string text;
    PartRecordKind kind;
    ByteSpans done;
  } const cases[] = {
      {"as written", written, PartRecordKind::Segments, {{0, 100}, {200, 300}}},
      {"nothing done yet", update::FormatSegmentRecord(digest, {}), PartRecordKind::Segments, {}},
      {"the digest alone", hex + "\n", PartRecordKind::InOrder, {}},
      {"the digest without its line end", hex, PartRecordKind::InOrder, {}},
      {"Windows line ends", hex + "\r\nsegments\r\ndone 0-100\r\n", PartRecordKind::Segments, {{0, 100}}},
      {"another digest", update::FormatSegmentRecord(DigestOf(1), {{0, 100}}), PartRecordKind::Other, {}},
      {"cut in a line", written.substr(0, written.size() - 3), PartRecordKind::Other, {}},
      {"spans without the marker", hex + "\ndone 0-100\n", PartRecordKind::Other, {}},
      {"out of order", hex + "\nsegments\ndone 200-300\ndone 0-100\n", PartRecordKind::Other, {}},
      {"touching", hex + "\nsegments\ndone 0-100\ndone 100-300\n", PartRecordKind::Other, {}},
      {"empty span", hex + "\nsegments\ndone 50-50\n", PartRecordKind::Other, {}},
      {"past the archive", hex + "\nsegments\ndone 0-1001\n", PartRecordKind::Other, {}},
      {"a sign", hex + "\nsegments\ndone -1-100\n", PartRecordKind::Other, {}},
      {"too large a number", hex + "\nsegments\ndone 0-99999999999999999999\n", PartRecordKind::Other, {}},
      {"a blank in the span", hex + "\nsegments\ndone 0 -100\n", PartRecordKind::Other, {}},
      {"empty", "", PartRecordKind::Other, {}},
  };
  for (const Case& c : cases) {
    ByteSpans done = {{7, 8}};  // replaced whatever the answer
    EXPECT_EQ(c.kind, update::ParseSegmentRecord(c.text.data(), c.text.size(), digest, 1000, &done)) << c.label;
    EXPECT_EQ(c.done, done) << c.label;
  }
  ByteSpans none;
  EXPECT_EQ(PartRecordKind::Other, update::ParseSegmentRecord(nullptr, 0, digest, 1000, &none));
}

}  // namespace
