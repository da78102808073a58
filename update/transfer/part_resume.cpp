#include "update/transfer/part_resume.h"

#include <cstring>

#include "update/transfer_rules.h"

namespace update {

void FormatPartRecord(const Sha256Digest& digest, char (&out)[kPartRecordSize + 1]) {
  char hex[kSha256HexSize] = {};
  FormatSha256Hex(digest, hex);
  std::memcpy(out, hex, kSha256HexSize - 1);
  out[kSha256HexSize - 1] = '\n';
  out[kPartRecordSize] = '\0';
}

bool PartRecordMatches(const char* text, std::size_t length, const Sha256Digest& digest) {
  constexpr std::size_t kDigits = kSha256HexSize - 1;
  if (text == nullptr || length < kDigits) return false;
  std::size_t end = length;
  if (end > kDigits && text[end - 1] == '\n') --end;
  if (end > kDigits && text[end - 1] == '\r') --end;
  if (end != kDigits) return false;
  char hex[kSha256HexSize] = {};
  std::memcpy(hex, text, kDigits);
  Sha256Digest recorded;
  if (!ParseSha256Hex(hex, &recorded)) return false;
  return std::memcmp(recorded.bytes, digest.bytes, sizeof digest.bytes) == 0;
}

PartStart DecidePartStart(bool recordMatches, std::uint64_t partSize, const ArchiveExpectation& expected) {
  if (!expected.hasDigest || !recordMatches || partSize == 0) return PartStart::Fresh;
  if (expected.hasSize) {
    if (partSize > expected.size) return PartStart::Fresh;
    if (partSize == expected.size) return PartStart::Complete;
  }
  return PartStart::Continue;
}

RangeAnswer ClassifyRangeAnswer(std::int32_t status) {
  switch (status) {
    case 206: return RangeAnswer::Continues;
    case 200: return RangeAnswer::Restarts;
    case 416: return RangeAnswer::StartOver;
    default: return RangeAnswer::Other;
  }
}

std::int32_t ResumedPercent(std::uint64_t offset, std::int64_t now, std::int64_t total) {
  if (total <= 0) return TransferPercent(now, total);
  const std::int64_t base = offset > static_cast<std::uint64_t>(INT64_MAX / 2) ? INT64_MAX / 2
                                                                              : static_cast<std::int64_t>(offset);
  return TransferPercent(base + now, base + total);
}

}  // namespace update
