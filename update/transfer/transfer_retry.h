// When a failed transfer is tried again within the same run, and after how
// long: failures that may pass (no connection, a timeout, a body cut short,
// a 5xx answer once a check shows its body is not the file) get up to three
// more attempts, after about 1, 2 and 4 s with jitter, so that many
// launchers meeting one failing server do not come back all at once.
// Pure: no windows.h, no curl.
#pragma once

#include <cstdint>

namespace update {

enum class TransferFailure {
  None,           // the transfer succeeded
  ConnectFailed,  // the server could not be reached, or the connect timed out
  TimedOut,       // the low-speed limit or another timeout ended it
  BodyCut,        // the connection dropped mid-body, or nothing came back
  BodyShort,      // the body ended before the size the caller expects
  BodyWrong,      // a whole body that is not the file the caller expects
  Permanent,      // anything else: a bad URL, a local write error, a not-found page
};

// Tests shorten the delays, as they shorten the transfer limits.
struct RetryTiming {
  std::int32_t firstDelayMs = 1000;  // doubled for each later retry
  std::int32_t maxRetries = 3;       // attempts after the first
};

// Whether a transfer that failed this way, after an HTTP `status` (0 when
// none came), may succeed when tried again.
bool MayRetry(TransferFailure failure, std::int32_t status);

// The wait before retry `retry` (1 for the first): firstDelayMs * 2^(retry-1),
// moved by up to a quarter either way by `random`.
std::int32_t RetryDelayMs(const RetryTiming& timing, std::int32_t retry, std::uint32_t random);

}  // namespace update
