#include "update/trust/archive_digest.h"

#include <cstring>

#include "update/trust/sodium_ready.h"

namespace update {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseSha256Hex(const char* text, Sha256Digest* out) {
  if (text == nullptr || out == nullptr) return false;
  Sha256Digest parsed;
  for (std::size_t i = 0; i < sizeof parsed.bytes; ++i) {
    const int high = HexValue(text[2 * i]);
    if (high < 0) return false;  // also the terminator of a short text
    const int low = HexValue(text[2 * i + 1]);
    if (low < 0) return false;
    parsed.bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  if (text[2 * sizeof parsed.bytes] != '\0') return false;
  *out = parsed;
  return true;
}

void FormatSha256Hex(const Sha256Digest& digest, char (&out)[kSha256HexSize]) {
  static const char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < sizeof digest.bytes; ++i) {
    out[2 * i] = kDigits[digest.bytes[i] >> 4];
    out[2 * i + 1] = kDigits[digest.bytes[i] & 0x0F];
  }
  out[kSha256HexSize - 1] = '\0';
}

bool ParseByteCount(const char* text, std::uint64_t* out) {
  if (text == nullptr || out == nullptr || *text == '\0') return false;
  std::uint64_t value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
    const std::uint64_t digit = static_cast<std::uint64_t>(*p - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

ArchiveVerifier::ArchiveVerifier(const ArchiveExpectation& expected) : expected_(expected) {
  SodiumReady();
}

bool ArchiveVerifier::OnBody(const char* data, std::size_t size) {
  if (stopped_ || finished_) return false;
  received_ += size;
  if (expected_.hasSize && received_ > expected_.size) {
    stopped_ = true;  // nothing past the announced size is hashed or kept
    return false;
  }
  state_.Update(data, size);
  return true;
}

ArchiveCheck ArchiveVerifier::Finish() {
  if (!finished_) {
    state_.Final(digest_.bytes);
    finished_ = true;
  }
  if (stopped_) return ArchiveCheck::TooLarge;
  if (expected_.hasSize && received_ != expected_.size) return ArchiveCheck::SizeMismatch;
  if (expected_.hasDigest && std::memcmp(digest_.bytes, expected_.digest.bytes, sizeof digest_.bytes) != 0)
    return ArchiveCheck::DigestMismatch;
  return ArchiveCheck::Match;
}

}  // namespace update
