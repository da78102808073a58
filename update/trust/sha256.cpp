#include "update/trust/sha256.h"

#include <atomic>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#define LAUNCHER_SHA_EXTENSIONS 1
#endif

namespace update {

namespace {

constexpr std::uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                       0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

#ifdef LAUNCHER_SHA_EXTENSIONS
alignas(16) constexpr std::uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

bool ProcessorHasShaExtensions() {
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c, &d)) return false;
  const bool ssse3 = (c & bit_SSSE3) != 0, sse41 = (c & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) return false;
  return ssse3 && sse41 && (b & (1u << 29)) != 0;  // CPUID.7.0:EBX.SHA
}

// The compression of `blocks` 64-byte blocks into `state`. The extensions
// keep the eight words as ABEF and CDGH; each sha256rnds2 does two rounds.
__attribute__((target("sha,sse4.1,ssse3"))) void CompressWithExtensions(std::uint32_t* state,
                                                                        const unsigned char* data,
                                                                        std::size_t blocks) {
  const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bll, 0x0405060700010203ll);
  __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
  __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
  const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
  const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
  __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
  __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abefBefore = abef, cdghBefore = cdgh;
    __m128i w[4];  // four words of the schedule each, the last sixteen
    for (int group = 0; group < 16; ++group) {
      __m128i& words = w[group % 4];
      if (group < 4) {
        words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)), byteSwap);
      } else {
        const __m128i& back4 = w[group % 4];  // words t-16..t-13, replaced here
        const __m128i& back3 = w[(group + 1) % 4];
        const __m128i& back2 = w[(group + 2) % 4];
        const __m128i& back1 = w[(group + 3) % 4];
        __m128i next = _mm_sha256msg1_epu32(back4, back3);          // W[t-16] + s0(W[t-15])
        next = _mm_add_epi32(next, _mm_alignr_epi8(back1, back2, 4));  // + W[t-7]
        words = _mm_sha256msg2_epu32(next, back1);                     // + s1(W[t-2])
      }
      __m128i message =
          _mm_add_epi32(words, _mm_load_si128(reinterpret_cast<const __m128i*>(&kRound[4 * group])));
      cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
      message = _mm_shuffle_epi32(message, 0x0E);
      abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
    }
    abef = _mm_add_epi32(abef, abefBefore);
    cdgh = _mm_add_epi32(cdgh, cdghBefore);
  }
  const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
  const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
  dcba = _mm_blend_epi16(feba, dchg, 0xF0);
  hgfe = _mm_alignr_epi8(dchg, feba, 8);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}
#endif

std::atomic<bool> g_allowed{true};

bool Available() {
#ifdef LAUNCHER_SHA_EXTENSIONS
  static const bool has = ProcessorHasShaExtensions();
  return has && g_allowed.load(std::memory_order_relaxed);
#else
  return false;
#endif
}

void Compress(std::uint32_t* state, const unsigned char* data, std::size_t blocks) {
#ifdef LAUNCHER_SHA_EXTENSIONS
  CompressWithExtensions(state, data, blocks);
#else
  (void)state;
  (void)data;
  (void)blocks;
#endif
}

}  // namespace

bool Sha256::Accelerated() { return Available(); }
void Sha256::UseAcceleration(bool enable) { g_allowed.store(enable); }

Sha256::Sha256() : accelerated_(Available()) {
  if (accelerated_) std::memcpy(state_, kInitial, sizeof state_);
  else crypto_hash_sha256_init(&portable_);
}

void Sha256::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (!accelerated_) {
    crypto_hash_sha256_update(&portable_, bytes, size);
    return;
  }
  total_ += size;
  if (buffered_ != 0) {
    const std::size_t take = size < 64 - buffered_ ? size : 64 - buffered_;
    std::memcpy(block_ + buffered_, bytes, take);
    buffered_ += take;
    bytes += take;
    size -= take;
    if (buffered_ < 64) return;
    Compress(state_, block_, 1);
    buffered_ = 0;
  }
  if (size >= 64) {
    Compress(state_, bytes, size / 64);
    bytes += size / 64 * 64;
    size %= 64;
  }
  std::memcpy(block_, bytes, size);
  buffered_ = size;
}

void Sha256::Final(unsigned char (&digest)[kDigestBytes]) {
  if (!accelerated_) {
    crypto_hash_sha256_final(&portable_, digest);
    return;
  }
  const std::uint64_t bits = total_ * 8;
  unsigned char tail[128] = {};
  std::memcpy(tail, block_, buffered_);
  tail[buffered_] = 0x80;
  const std::size_t length = buffered_ < 56 ? 64 : 128;
  for (int i = 0; i < 8; ++i) tail[length - 1 - i] = static_cast<unsigned char>(bits >> (8 * i));
  Compress(state_, tail, length / 64);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<unsigned char>(state_[i] >> (24 - 8 * j));
}

void Sha256::Digest(const void* data, std::size_t size, unsigned char (&digest)[kDigestBytes]) {
  Sha256 hash;
  hash.Update(data, size);
  hash.Final(digest);
}

}  // namespace update
