#include "update/transfer_rules.h"

#include <cstring>
#include <limits>

namespace update {

std::int32_t TransferPercent(std::int64_t now, std::int64_t total) {
  if (total <= 0) return std::numeric_limits<std::int32_t>::min();
  // now * 100 cannot overflow for any size a transfer reaches (< 2^56).
  const std::int64_t percent = now * 100 / total;
  if (percent > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (percent < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(percent);
}

std::int32_t InstallPercent(std::uint64_t done, std::uint64_t count) {
  if (count == 0) return 0;
  return static_cast<std::int32_t>(done * 100 / count);
}

std::uint64_t StagedFileBytes(std::uint64_t fileSize) {
  constexpr std::uint64_t kCluster = 4096;
  const std::uint64_t clusters = fileSize / kCluster + (fileSize % kCluster != 0 ? 1 : 0);
  return clusters > UINT64_MAX / kCluster ? UINT64_MAX : clusters * kCluster;
}

std::uint64_t AddBytes(std::uint64_t total, std::uint64_t add) {
  return add > UINT64_MAX - total ? UINT64_MAX : total + add;
}

std::size_t NotFoundTextLength(const char* piece, std::size_t length) {
  static const char kPhrase[] = "404 Not Found";
  constexpr std::size_t kPhraseLength = sizeof kPhrase - 1;
  if (piece == nullptr) return 0;
  const void* nul = std::memchr(piece, '\0', length);
  if (nul != nullptr) length = static_cast<std::size_t>(static_cast<const char*>(nul) - piece);
  if (length < kPhraseLength) return 0;
  for (std::size_t i = 0; i + kPhraseLength <= length; ++i) {
    if (piece[i] == '4' && std::memcmp(piece + i, kPhrase, kPhraseLength) == 0) return length;
  }
  return 0;
}

}  // namespace update
