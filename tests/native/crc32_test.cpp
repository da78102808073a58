// The one CRC-32 everything computes: the known values of the ZIP/gzip CRC,
// and, for every length and alignment its vector code treats apart, the same
// value as the plain bitwise definition, however the bytes are split between
// calls.
#include "base/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The definition, one bit at a time (reflected 0xEDB88320, inverted in and out).
std::uint32_t BitwiseCrc32(std::uint32_t crc, const unsigned char* data, std::size_t size) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

TEST(Crc32, KnownValues) {
  struct Case {
    const char* label;
    std::string bytes;
    std::uint32_t expected;
  };
  const Case cases[] = {
      {"nothing", "", 0x00000000u},
      {"one byte", "a", 0xE8B7BE43u},
      {"the check value", "123456789", 0xCBF43926u},
      {"a sentence", "The quick brown fox jumps over the lazy dog", 0x414FA339u},
      {"32 zero bytes", std::string(32, '\0'), 0x190A55ADu},
      {"64 bytes 0xFF", std::string(64, '\xFF'), 0x0F6187BAu},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.expected, base::Crc32(0, c.bytes.data(), c.bytes.size()));
  }
}

TEST(Crc32, NothingAddedLeavesTheValueEvenWithoutABuffer) {
  for (const std::uint32_t crc : {0u, 0xCBF43926u, 0xFFFFFFFFu}) {
    EXPECT_EQ(crc, base::Crc32(crc, nullptr, 0));
    EXPECT_EQ(crc, base::Crc32(crc, "x", 0));
  }
}

TEST(Crc32, EveryLengthAlignmentAndSplitGivesTheDefinedValue) {
  std::vector<unsigned char> bytes(6000);
  std::uint32_t state = 2463534242u;
  for (unsigned char& b : bytes) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    b = static_cast<unsigned char>(state);
  }
  // Around the vector code's block sizes (16, 64, 128 and 256 bytes) and a
  // few thousand bytes, at every alignment of a 16-byte vector.
  const std::size_t lengths[] = {1, 3, 15, 16, 17, 31, 32, 33, 63, 64, 65, 127, 128, 129, 255, 256, 257, 1000, 4096, 5983};
  for (std::size_t offset = 0; offset < 16; ++offset) {
    for (const std::size_t length : lengths) {
      SCOPED_TRACE("offset " + std::to_string(offset) + ", length " + std::to_string(length));
      const unsigned char* at = bytes.data() + offset;
      const std::uint32_t whole = BitwiseCrc32(0, at, length);
      ASSERT_EQ(whole, base::Crc32(0, at, length));
      for (const std::size_t split : {std::size_t{1}, std::size_t{7}, std::size_t{16}, std::size_t{64},
                                      std::size_t{100}, length / 2, length - 1}) {
        if (split >= length) continue;
        EXPECT_EQ(whole, base::Crc32(base::Crc32(0, at, split), at + split, length - split)) << "split at " << split;
      }
    }
  }
}

}  // namespace
