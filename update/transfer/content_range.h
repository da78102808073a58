// The answer to a single-range GET ("Range: bytes=a-b"): its Content-Range
// header, and whether it carries exactly the bytes that were asked for. A
// server that answers with another range, another file's length or the whole
// file (a 200) is not used for spans. Pure: no windows.h, no curl.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace update {

struct ContentRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;       // inclusive
  bool totalKnown = false;      // false for "/*"
  std::uint64_t total = 0;
};

// "bytes FIRST-LAST/TOTAL" or "bytes FIRST-LAST/*", blanks around it
// allowed; FIRST <= LAST < TOTAL. False for anything else ("bytes */TOTAL"
// of a 416 included).
bool ParseContentRange(std::string_view value, ContentRange* out);

// A header line as libcurl hands it over ("Name: value\r\n"): true, with the
// range, when it is a Content-Range header (the name in any case) that parses.
bool ParseContentRangeLine(std::string_view line, ContentRange* out);

// The "FIRST-LAST" of a request for `length` bytes (at least 1) from `offset`.
constexpr std::size_t kRangeTextSize = 48;
bool FormatRangeRequest(std::uint64_t offset, std::uint64_t length, char (&out)[kRangeTextSize]);

// Whether a 206 with `range` answers a request for `length` bytes from
// `offset` of a file of `fileSize` bytes: the same bytes, and (when the
// server names one) the same total.
bool RangeAnswers(const ContentRange& range, std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize);

}  // namespace update
