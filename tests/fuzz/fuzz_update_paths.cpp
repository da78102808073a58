// The worker's path and URL composition into fixed buffers, and the small
// transfer rules (percentages, the not-found page).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "update/transfer_rules.h"
#include "update/update_paths.h"

namespace {

// Whole or empty, terminated within the buffer, and equal to the full text.
void CheckComposed(bool fitted, const std::vector<char>& out, const std::string& whole) {
  if (out.empty()) {
    FUZZ_CHECK(!fitted);
    return;
  }
  const std::size_t length = strnlen(out.data(), out.size());
  FUZZ_CHECK(length < out.size());
  if (fitted) {
    FUZZ_CHECK(std::string(out.data(), length) == whole);
  } else {
    FUZZ_CHECK(length == 0 && whole.size() >= out.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::size_t bufferSize = in.ConsumeIntegralInRange<std::size_t>(0, 300);
  const std::uint32_t tick = in.ConsumeIntegral<std::uint32_t>();
  // The byte counts curl reports: never negative, far below 2^56.
  const std::int64_t now = in.ConsumeIntegralInRange<std::int64_t>(0, (std::int64_t{1} << 56) - 1);
  const std::int64_t total = in.ConsumeIntegral<std::int64_t>();
  const std::uint64_t done = in.ConsumeIntegral<std::uint32_t>();
  const std::uint64_t count = in.ConsumeIntegral<std::uint32_t>();
  const std::string directory = in.ConsumeRandomLengthString(400);
  const std::string name = in.ConsumeRandomLengthString(400);
  const std::string body = in.ConsumeRemainingBytesAsString();

  std::vector<char> out(bufferSize, '#');
  bool fitted = update::ComposePath(out.data(), out.size(), directory.c_str(), name.c_str());
  CheckComposed(fitted, out, std::string(directory.c_str()) + "\\" + name.c_str());

  std::fill(out.begin(), out.end(), '#');
  fitted = update::ComposeTickUrl(out.data(), out.size(), directory.c_str(), tick);
  CheckComposed(fitted, out, std::string(directory.c_str()) + "?" + std::to_string(static_cast<std::int32_t>(tick)));

  const std::int32_t percent = update::TransferPercent(now, total);
  if (total > 0 && now <= total) FUZZ_CHECK(percent >= 0 && percent <= 100);
  if (total <= 0) FUZZ_CHECK(percent == INT32_MIN);
  if (done <= count) {
    const std::int32_t installed = update::InstallPercent(done, count);
    FUZZ_CHECK(installed >= 0 && installed <= 100);
  }

  // The phrase counts only before the first NUL, and the length is that text's.
  const std::size_t found = update::NotFoundTextLength(body.data(), body.size());
  const std::string text(body.c_str());
  FUZZ_CHECK(found == (text.find("404 Not Found") != std::string::npos ? text.size() : 0));
  return 0;
}
