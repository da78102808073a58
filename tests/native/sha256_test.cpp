// SHA-256 with the processor's extensions gives libsodium's digest for every
// length and every way a stream is split; without them it is libsodium's.
#include "update/trust/sha256.h"

#include <gtest/gtest.h>
#include <sodium.h>

#include <cstring>
#include <random>
#include <string>

namespace {

std::string Hex(const unsigned char (&digest)[32]) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char c : digest) text += {kHex[c >> 4], kHex[c & 15]};
  return text;
}

TEST(Sha256, EveryLengthAndSplitGivesLibsodiumsDigest) {
  std::printf("SHA extensions: %s\n", update::Sha256::Accelerated() ? "used" : "not on this processor");
  std::mt19937 random(11);
  std::string data(70000, '\0');
  for (char& c : data) c = static_cast<char>(random());
  unsigned char abc[32];
  update::Sha256::Digest("abc", 3, abc);
  EXPECT_EQ("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", Hex(abc));
  for (bool accelerated : {true, false}) {
    update::Sha256::UseAcceleration(accelerated);
    for (std::size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 127, 128, 129, 1000, 4096, 65537, 70000}) {
      SCOPED_TRACE(std::to_string(length) + (accelerated ? " accelerated" : " portable"));
      unsigned char expected[32];
      crypto_hash_sha256(expected, reinterpret_cast<const unsigned char*>(data.data()), length);
      unsigned char whole[32];
      update::Sha256::Digest(data.data(), length, whole);
      EXPECT_EQ(Hex(expected), Hex(whole));
      update::Sha256 pieces;  // in pieces of odd sizes
      for (std::size_t at = 0; at < length;) {
        const std::size_t n = std::min<std::size_t>(length - at, 1 + random() % 150);
        pieces.Update(data.data() + at, n);
        at += n;
      }
      unsigned char split[32];
      pieces.Final(split);
      EXPECT_EQ(Hex(expected), Hex(split));
    }
  }
  update::Sha256::UseAcceleration(true);
}

}  // namespace
