// Whether an archive download continues a part left by an earlier attempt or
// starts over, from the part's state and then from the server's answer to the
// range request; and the small record, written next to the part before its
// first byte, that names the digest the part belongs to. A part without a
// matching record is never continued. Pure: no windows.h, no curl.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/trust/archive_digest.h"

namespace update {

// The record's text: 64 lower-case hex digits and a newline.
constexpr std::size_t kPartRecordSize = 65;
void FormatPartRecord(const Sha256Digest& digest, char (&out)[kPartRecordSize + 1]);
// Whether `text` (`length` bytes, as read from the record) names `digest`:
// the hex digits, optionally followed by one line end, nothing else.
bool PartRecordMatches(const char* text, std::size_t length, const Sha256Digest& digest);

enum class PartStart {
  Fresh,     // no usable part: empty it, write the record, fetch from byte 0
  Continue,  // ask for the bytes from the part's size on
  Complete,  // the part holds Size bytes: check it, no transfer needed
};

// `recordMatches`: the record names the descriptor's digest. A part larger
// than the announced Size, or of no bytes, is not continued.
PartStart DecidePartStart(bool recordMatches, std::uint64_t partSize, const ArchiveExpectation& expected);

enum class RangeAnswer {
  Continues,  // 206: the body is the rest, appended to the part
  Restarts,   // 200: the server ignored the range; the body is the whole file
  StartOver,  // 416: nothing to continue; empty the part and ask again
  Other,      // any other status: the transfer's ordinary handling
};

RangeAnswer ClassifyRangeAnswer(std::int32_t status);

// Upper-bar target of a resumed transfer: the share of the whole archive,
// counting the `offset` bytes already on disk.
std::int32_t ResumedPercent(std::uint64_t offset, std::int64_t now, std::int64_t total);

}  // namespace update
