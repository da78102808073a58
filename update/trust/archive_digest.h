// The archive a version descriptor announces by "Sha256" (64 hex digits) and
// "Size" (bytes), and the check of a received archive against them while it
// streams in: SHA-256 over every piece, and a stop as soon as more than Size
// bytes arrive, so the archive is never read a second time. Pure: no windows.h.
#pragma once

#include "update/trust/sha256.h"

#include <sodium.h>

#include <cstddef>
#include <cstdint>

#include "update/body_observer.h"

namespace update {

struct Sha256Digest {
  std::uint8_t bytes[32] = {};
};

constexpr std::size_t kSha256HexSize = 65;  // 64 hex digits and the terminator

// Exactly 64 hex digits, either case, nothing else. False leaves `out` alone.
bool ParseSha256Hex(const char* text, Sha256Digest* out);
// Lower-case hex into out[kSha256HexSize].
void FormatSha256Hex(const Sha256Digest& digest, char (&out)[kSha256HexSize]);
// A decimal byte count: digits only (no sign, no blank), at most 2^64 - 1.
bool ParseByteCount(const char* text, std::uint64_t* out);

// What the descriptor says about the archive; either part may be absent.
struct ArchiveExpectation {
  bool hasDigest = false;
  Sha256Digest digest;
  bool hasSize = false;
  std::uint64_t size = 0;
  bool Any() const { return hasDigest || hasSize; }
};

enum class ArchiveCheck {
  Match,           // size and digest as announced
  TooLarge,        // more than Size bytes arrived; the transfer was stopped
  SizeMismatch,    // the transfer ended short of Size
  DigestMismatch,  // the size was right (or not announced), the digest was not
};

// Fed by the transfer; Finish once the transfer has ended.
class ArchiveVerifier : public BodyObserver {
 public:
  explicit ArchiveVerifier(const ArchiveExpectation& expected);
  bool OnBody(const char* data, std::size_t size) override;
  ArchiveCheck Finish();  // the same answer however often it is asked

  bool Stopped() const { return stopped_; }
  std::uint64_t Received() const { return received_; }
  const Sha256Digest& ReceivedDigest() const { return digest_; }  // after Finish
  const ArchiveExpectation& Expected() const { return expected_; }

 private:
  ArchiveExpectation expected_;
  Sha256 state_;
  Sha256Digest digest_;
  std::uint64_t received_ = 0;
  bool stopped_ = false;
  bool finished_ = false;
};

}  // namespace update
