#include "tools/pack/chunk_boundaries.h"

#include <array>

namespace pack {

namespace {

// One fixed pseudo-random number per byte value (splitmix64), the same on
// every build, so the same file is always cut the same way.
constexpr std::array<std::uint64_t, 256> MakeGear() {
  std::array<std::uint64_t, 256> gear{};
  std::uint64_t state = 0x6c61756e63686572ull;
  for (std::uint64_t& value : gear) {
    state += 0x9e3779b97f4a7c15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    value = z ^ (z >> 31);
  }
  return gear;
}

constexpr std::array<std::uint64_t, 256> kGear = MakeGear();

// After the minimum, a boundary comes with this chance per byte: on average
// kAverageChunkBytes - kMinChunkBytes bytes later. The hash's high bits are
// those that the last 64 bytes have all reached.
constexpr std::uint64_t kBoundaryBelow =
    (std::uint64_t{1} << 32) / (kAverageChunkBytes - kMinChunkBytes);

}  // namespace

std::size_t ChunkCutter::Scan(const unsigned char* data, std::size_t size, bool* cut) {
  *cut = false;
  for (std::size_t i = 0; i < size; ++i) {
    hash_ = (hash_ << 1) + kGear[data[i]];
    ++length_;
    if (length_ < kMinChunkBytes) continue;
    if ((hash_ >> 32) < kBoundaryBelow || length_ == kMaxChunkBytes) {
      *cut = true;
      hash_ = 0;
      length_ = 0;
      return i + 1;
    }
  }
  return size;
}

}  // namespace pack
