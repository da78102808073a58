// The streaming inflater against zlib on any input: the first byte sets the
// size of the pieces it is fed in, the rest is raw deflate data. Both must
// reach the same verdict, and a stream both end gives the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "tests/support/inflate_oracle.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t piece = 1 + data[0] * 17u;
  const std::string deflated(reinterpret_cast<const char*>(data + 1), size - 1);
  static update::StreamInflater inflater;
  const test_support::Inflated expected = test_support::InflateWithZlib(deflated);
  const test_support::Inflated ours = test_support::InflateInPieces(inflater, deflated, piece);
  FUZZ_CHECK(ours.ended == expected.ended);
  if (expected.ended) {
    FUZZ_CHECK(ours.bytes == expected.bytes);
    FUZZ_CHECK(ours.trailingBytes == expected.trailingBytes);
  }
  return 0;
}
