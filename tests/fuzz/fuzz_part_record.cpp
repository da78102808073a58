// The record beside a segmented part on any bytes: it never reads past them,
// the spans it accepts are in order, apart, not empty and inside the
// archive, and the record written for them reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/transfer/part_segments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  // The digest the record names, when its first line holds one; else any.
  update::Sha256Digest digest;
  if (bytes.size() >= 64) {
    char hex[update::kSha256HexSize] = {};
    std::memcpy(hex, bytes.data(), 64);
    update::ParseSha256Hex(hex, &digest);
  }
  constexpr std::uint64_t kArchiveSize = std::uint64_t{1} << 40;
  update::ByteSpans done;
  const update::PartRecordKind kind =
      update::ParseSegmentRecord(bytes.data(), bytes.size(), digest, kArchiveSize, &done);
  if (kind != update::PartRecordKind::Segments) {
    FUZZ_CHECK(done.empty());
    return 0;
  }
  for (std::size_t i = 0; i < done.size(); ++i) {
    FUZZ_CHECK(done[i].begin < done[i].end && done[i].end <= kArchiveSize);
    if (i != 0) FUZZ_CHECK(done[i - 1].end < done[i].begin);
  }
  const std::string again = update::FormatSegmentRecord(digest, done);
  update::ByteSpans reread;
  FUZZ_CHECK(update::ParseSegmentRecord(again.data(), again.size(), digest, kArchiveSize, &reread) ==
             update::PartRecordKind::Segments);
  FUZZ_CHECK(reread == done);
  return 0;
}
