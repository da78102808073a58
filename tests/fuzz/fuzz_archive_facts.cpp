// The descriptor's Sha256 and Size values, the archive check fed in pieces of
// any size, and the digest URL composed into a fixed buffer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "update/trust/archive_digest.h"
#include "update/update_paths.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string hexText = in.ConsumeRandomLengthString(80);
  const std::string sizeText = in.ConsumeRandomLengthString(30);
  const std::size_t bufferSize = in.ConsumeIntegralInRange<std::size_t>(0, 300);
  const std::string base = in.ConsumeRandomLengthString(300);
  const std::uint64_t announced = in.ConsumeIntegralInRange<std::uint64_t>(0, 5000);
  const bool withSize = in.ConsumeBool();

  // Sha256: a parsed value formats back to the same digits in lower case.
  update::Sha256Digest digest;
  if (update::ParseSha256Hex(hexText.c_str(), &digest)) {
    char hex[update::kSha256HexSize];
    update::FormatSha256Hex(digest, hex);
    FUZZ_CHECK(std::strlen(hexText.c_str()) == 64);
    for (std::size_t i = 0; i < 64; ++i) {
      const char c = hexText[i];
      FUZZ_CHECK(hex[i] == ((c >= 'A' && c <= 'F') ? static_cast<char>(c - 'A' + 'a') : c));
    }
  }

  // Size: exactly the plain decimal numbers that fit 64 bits.
  std::uint64_t count = 0;
  const bool counted = update::ParseByteCount(sizeText.c_str(), &count);
  const std::string text(sizeText.c_str());
  const bool digitsOnly = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
  if (!digitsOnly) FUZZ_CHECK(!counted);
  if (counted) FUZZ_CHECK(std::to_string(count) == text.substr(std::min(text.find_first_not_of('0'), text.size() - 1)));

  // The digest URL: whole or empty, never past the buffer.
  std::vector<char> out(bufferSize, '#');
  const bool fitted = update::ComposeDigestUrl(out.data(), out.size(), base.c_str(), digest);
  if (!out.empty()) {
    const std::size_t length = strnlen(out.data(), out.size());
    FUZZ_CHECK(length < out.size());
    FUZZ_CHECK(fitted ? length == std::strlen(base.c_str()) + 17 : length == 0);
  }

  // The archive check, pieces of any size: never more than Size accepted.
  update::ArchiveExpectation expected;
  expected.hasSize = withSize;
  expected.size = announced;
  update::ArchiveVerifier verifier(expected);
  std::uint64_t accepted = 0;
  while (in.remaining_bytes() > 0) {
    const std::string piece = in.ConsumeRandomLengthString(700);
    if (!verifier.OnBody(piece.data(), piece.size())) break;
    accepted += piece.size();
  }
  const update::ArchiveCheck check = verifier.Finish();
  if (withSize) FUZZ_CHECK(accepted <= announced);
  FUZZ_CHECK((check == update::ArchiveCheck::TooLarge) == verifier.Stopped());
  if (withSize && check == update::ArchiveCheck::Match) FUZZ_CHECK(accepted == announced);
  return 0;
}
