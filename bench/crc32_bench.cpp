// CRC-32 throughput in memory: zlib's crc32, the anchor (what every CRC came
// from before), against libdeflate_crc32 and base::Crc32 (the launcher's own,
// which is libdeflate's behind one check), over the same buffer (256 MiB unless
// a size in MiB is given), each the best of five passes. Prints one line of
// key=value figures in GB/s (10^9 bytes a second); ok=0 when the three
// disagree on the value.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

#include "base/crc32.h"

namespace {

// Best GB/s of five passes of `pass` over `size` bytes; `value` gets its CRC.
double BestRate(std::size_t size, const std::function<std::uint32_t()>& pass, std::uint32_t* value) {
  double best = 0;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    *value = pass();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::max(best, static_cast<double>(size) / 1e9 / seconds);
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t mib = argc > 1 ? static_cast<std::size_t>(std::strtoul(argv[1], nullptr, 10)) : 256;
  const std::size_t size = mib << 20;
  auto buffer = std::make_unique<unsigned char[]>(size);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < size; ++i) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    buffer[i] = static_cast<unsigned char>(state);
  }
  const unsigned char* data = buffer.get();
  std::uint32_t zlibValue = 0, deflateValue = 0, ourValue = 0;
  // zlib takes 32-bit lengths: passes of 1 GiB at most.
  const double zlibRate = BestRate(size, [&] {
    uLong crc = crc32(0L, Z_NULL, 0);
    for (std::size_t at = 0; at < size;) {
      const std::size_t n = std::min<std::size_t>(size - at, std::size_t{1} << 30);
      crc = crc32(crc, data + at, static_cast<uInt>(n));
      at += n;
    }
    return static_cast<std::uint32_t>(crc);
  }, &zlibValue);
  const double deflateRate = BestRate(size, [&] { return libdeflate_crc32(0, data, size); }, &deflateValue);
  const double ourRate = BestRate(size, [&] { return base::Crc32(0, data, size); }, &ourValue);
  const bool same = zlibValue == deflateValue && zlibValue == ourValue;
  std::printf("ok=%d mib=%zu zlib_gbps=%.2f libdeflate_gbps=%.2f ours_gbps=%.2f ratio=%.2f crc=%08x\n", same ? 1 : 0,
              mib, zlibRate, deflateRate, ourRate, ourRate / zlibRate, static_cast<unsigned>(ourValue));
  return same ? 0 : 1;
}
