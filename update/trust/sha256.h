// SHA-256 of a stream: with the processor's SHA extensions where it has them
// (most x86 processors since 2017 do; a few times faster than portable code,
// which bounds every check of a large file), else libsodium's. The same
// digest either way. Pure: no windows.h.
#pragma once

#include <sodium.h>

#include <cstddef>
#include <cstdint>

namespace update {

class Sha256 {
 public:
  static constexpr std::size_t kDigestBytes = 32;

  Sha256();
  void Update(const void* data, std::size_t size);
  void Final(unsigned char (&digest)[kDigestBytes]);

  // One call for bytes at hand.
  static void Digest(const void* data, std::size_t size, unsigned char (&digest)[kDigestBytes]);

  // Whether this processor's SHA extensions are used; `enable` false (for a
  // test) turns them off for every hash made after.
  static bool Accelerated();
  static void UseAcceleration(bool enable);

 private:
  bool accelerated_;
  crypto_hash_sha256_state portable_;
  std::uint32_t state_[8];
  unsigned char block_[64];
  std::size_t buffered_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace update
