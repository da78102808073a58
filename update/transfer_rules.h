// Small rules of the transfer and the installation that need no library:
// the percentages handed to the progress bar and the not-found page test.
// Pure: no windows.h, no curl.
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

// Upper-bar target for a transfer: now * 100 / total, cut toward zero. While
// the server has reported no total the quotient has no finite value and the
// lowest 32-bit number is stored, which the progress bar shows as 0 %.
std::int32_t TransferPercent(std::int64_t now, std::int64_t total);

// Upper-bar target while installing: entries done * 100 / entry count.
std::int32_t InstallPercent(std::uint64_t done, std::uint64_t count);

// Disk space a staged installation needs: every file rounded up to whole
// 4 KiB clusters, plus a margin for the journal, the version record and what
// the file system keeps for itself.
constexpr std::uint64_t kStagingMargin = std::uint64_t{16} << 20;
std::uint64_t StagedFileBytes(std::uint64_t fileSize);
// `total` + `add`, held at the largest number instead of wrapping.
std::uint64_t AddBytes(std::uint64_t total, std::uint64_t add);

// The servers answer a missing file with a page holding this text; the first
// piece of a body is searched for it, up to its first NUL byte. Returns the
// length of the piece's text when it holds the phrase, 0 otherwise.
std::size_t NotFoundTextLength(const char* piece, std::size_t length);

}  // namespace update
