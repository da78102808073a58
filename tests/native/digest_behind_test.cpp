// The digest computed behind the writes is the digest of every piece handed
// on, in the order handed on, however many wait; the room of hashed pieces
// comes back to the writer.
#include "update/incremental/digest_behind.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/crc32.h"

namespace {

TEST(DigestBehind, DigestOfThePiecesInTheOrderHandedOn) {
  const std::size_t counts[] = {0, 1, update::DigestBehind::kQueued, 200};
  for (std::size_t count : counts) {
    update::DigestBehind behind;
    std::string whole;
    bool roomCameBack = false;
    for (std::size_t i = 0; i < count; ++i) {
      // Sizes from 0 to about 64 KiB, the bytes telling the piece apart.
      std::string piece((i * 7919) % 65537, static_cast<char>('a' + i % 26));
      whole += piece;
      behind.Add(&piece);
      roomCameBack = roomCameBack || piece.capacity() > 0;
    }
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    unsigned char digest[update::Sha256::kDigestBytes];
    behind.Finish(&size, &crc, digest);
    unsigned char expected[update::Sha256::kDigestBytes];
    update::Sha256::Digest(whole.data(), whole.size(), expected);
    EXPECT_EQ(whole.size(), size) << count;
    EXPECT_EQ(base::Crc32(0, whole.data(), whole.size()), crc) << count;
    EXPECT_EQ(0, std::memcmp(expected, digest, sizeof digest)) << count;
    if (count == 200) {
      EXPECT_TRUE(roomCameBack);
    }
  }
}

}  // namespace
