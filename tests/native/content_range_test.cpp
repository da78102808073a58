// The answer to a single-range request: which Content-Range headers parse,
// and which ranges answer the request that was made.
#include "update/transfer/content_range.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ContentRange, HeaderValuesParseOnlyWhenWellFormed) {
  struct Case {
    const char* value;
    bool parses;
    std::uint64_t first, last, total;
    bool totalKnown;
  } const cases[] = {
      {"bytes 0-99/1000", true, 0, 99, 1000, true},
      {"  BYTES 5-5/6\r\n", true, 5, 5, 6, true},
      {"bytes 100-199/*", true, 100, 199, 0, false},
      {"bytes 4294967296-8589934591/8589934592", true, 4294967296ull, 8589934591ull, 8589934592ull, true},
      {"bytes */1000", false, 0, 0, 0, false},                     // a 416's form
      {"bytes 10-9/100", false, 0, 0, 0, false},                   // last before first
      {"bytes 0-100/100", false, 0, 0, 0, false},                  // past the total
      {"bytes -1-5/100", false, 0, 0, 0, false},
      {"bytes 0-5/100x", false, 0, 0, 0, false},
      {"bytes 0-18446744073709551616/*", false, 0, 0, 0, false},   // overflow
      {"items 0-5/100", false, 0, 0, 0, false},
      {"bytes 0-5", false, 0, 0, 0, false},
      {"", false, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    update::ContentRange range;
    ASSERT_EQ(update::ParseContentRange(c.value, &range), c.parses) << c.value;
    if (!c.parses) continue;
    EXPECT_EQ(range.first, c.first) << c.value;
    EXPECT_EQ(range.last, c.last) << c.value;
    EXPECT_EQ(range.totalKnown, c.totalKnown) << c.value;
    if (c.totalKnown) {
      EXPECT_EQ(range.total, c.total) << c.value;
    }
  }
}

TEST(ContentRange, OnlyTheContentRangeHeaderLineIsTaken) {
  update::ContentRange range;
  EXPECT_TRUE(update::ParseContentRangeLine("content-RANGE: bytes 1-2/3\r\n", &range));
  EXPECT_EQ(range.last, 2u);
  EXPECT_FALSE(update::ParseContentRangeLine("Content-Length: 2\r\n", &range));
  EXPECT_FALSE(update::ParseContentRangeLine("X-Content-Range: bytes 1-2/3\r\n", &range));
  EXPECT_FALSE(update::ParseContentRangeLine("HTTP/1.1 206 Partial Content\r\n", &range));
}

TEST(ContentRange, AnAnswerMustCarryTheBytesAskedForOfTheSameFile) {
  update::ContentRange range;
  ASSERT_TRUE(update::ParseContentRange("bytes 100-199/1000", &range));
  EXPECT_TRUE(update::RangeAnswers(range, 100, 100, 1000));
  EXPECT_FALSE(update::RangeAnswers(range, 100, 101, 1000)) << "shorter than asked";
  EXPECT_FALSE(update::RangeAnswers(range, 99, 101, 1000)) << "another start";
  EXPECT_FALSE(update::RangeAnswers(range, 100, 100, 2000)) << "another file's length";
  ASSERT_TRUE(update::ParseContentRange("bytes 100-199/*", &range));
  EXPECT_TRUE(update::RangeAnswers(range, 100, 100, 2000));

  char text[update::kRangeTextSize];
  ASSERT_TRUE(update::FormatRangeRequest(4294967296ull, 10, text));
  EXPECT_STREQ(text, "4294967296-4294967305");
  EXPECT_FALSE(update::FormatRangeRequest(5, 0, text));
  EXPECT_FALSE(update::FormatRangeRequest(UINT64_MAX, 2, text));
}

}  // namespace
