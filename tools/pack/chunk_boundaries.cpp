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

// After the minimum, a boundary comes with a small chance per byte until the
// chunk is 896 KiB long and with a larger one after, so that lengths gather
// around the average (about 990 KiB) instead of spreading as they would with
// one chance: the chunk that holds a change is then seldom a long one. The
// hash's high bits are those that the last 64 bytes have all reached.
constexpr std::uint64_t kSpread = kAverageChunkBytes - kMinChunkBytes;  // 768 KiB
constexpr std::uint64_t kNormalFrom = 896 * 1024;
constexpr std::uint64_t kBoundaryBelowEarly = (std::uint64_t{1} << 32) / (kSpread * 4);
constexpr std::uint64_t kBoundaryBelowLate = (std::uint64_t{1} << 32) * 4 / kSpread;

}  // namespace

std::size_t ChunkCutter::Scan(const unsigned char* data, std::size_t size, bool* cut) {
  *cut = false;
  for (std::size_t i = 0; i < size; ++i) {
    hash_ = (hash_ << 1) + kGear[data[i]];
    ++length_;
    if (length_ < kMinChunkBytes) continue;
    const std::uint64_t below = length_ < kNormalFrom ? kBoundaryBelowEarly : kBoundaryBelowLate;
    if ((hash_ >> 32) < below || length_ == kMaxChunkBytes) {
      *cut = true;
      hash_ = 0;
      length_ = 0;
      return i + 1;
    }
  }
  return size;
}

}  // namespace pack
