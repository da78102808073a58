#include "update/transfer/content_range.h"

#include <cstdio>

namespace update {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' || text.back() == '\n'))
    text.remove_suffix(1);
  return text;
}

// Decimal digits up to `stop` (or the end); no sign, no overflow, at least one digit.
bool TakeNumber(std::string_view* text, char stop, std::uint64_t* value) {
  std::uint64_t v = 0;
  std::size_t i = 0;
  for (; i < text->size() && (*text)[i] != stop; ++i) {
    const char c = (*text)[i];
    if (c < '0' || c > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (v > (UINT64_MAX - digit) / 10) return false;
    v = v * 10 + digit;
  }
  if (i == 0) return false;
  *value = v;
  text->remove_prefix(i);
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool ParseContentRange(std::string_view value, ContentRange* out) {
  std::string_view text = Trimmed(value);
  constexpr std::string_view kUnit = "bytes ";
  if (text.size() < kUnit.size() || !EqualsIgnoringCase(text.substr(0, kUnit.size()), kUnit)) return false;
  text.remove_prefix(kUnit.size());
  text = Trimmed(text);
  ContentRange range;
  if (!TakeNumber(&text, '-', &range.first) || text.empty() || text.front() != '-') return false;
  text.remove_prefix(1);
  if (!TakeNumber(&text, '/', &range.last) || text.empty() || text.front() != '/') return false;
  text.remove_prefix(1);
  if (text == "*") {
    range.totalKnown = false;
  } else {
    if (!TakeNumber(&text, '\0', &range.total) || !text.empty()) return false;
    range.totalKnown = true;
  }
  if (range.first > range.last || (range.totalKnown && range.last >= range.total)) return false;
  *out = range;
  return true;
}

bool ParseContentRangeLine(std::string_view line, ContentRange* out) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  if (!EqualsIgnoringCase(Trimmed(line.substr(0, colon)), "content-range")) return false;
  return ParseContentRange(line.substr(colon + 1), out);
}

bool FormatRangeRequest(std::uint64_t offset, std::uint64_t length, char (&out)[kRangeTextSize]) {
  out[0] = '\0';
  if (length == 0 || offset > UINT64_MAX - (length - 1)) return false;
  const int n = std::snprintf(out, sizeof out, "%llu-%llu", static_cast<unsigned long long>(offset),
                              static_cast<unsigned long long>(offset + length - 1));
  return n > 0 && static_cast<std::size_t>(n) < sizeof out;
}

bool RangeAnswers(const ContentRange& range, std::uint64_t offset, std::uint64_t length, std::uint64_t fileSize) {
  if (length == 0 || offset > UINT64_MAX - (length - 1)) return false;
  if (range.first != offset || range.last != offset + length - 1) return false;
  return !range.totalKnown || range.total == fileSize;
}

}  // namespace update
