#include "update/transfer/transfer_retry.h"

namespace update {

bool MayRetry(TransferFailure failure, std::int32_t status) {
  switch (failure) {
    case TransferFailure::ConnectFailed:
    case TransferFailure::TimedOut:
    case TransferFailure::BodyCut:
    case TransferFailure::BodyShort:
      return true;
    case TransferFailure::BodyWrong:
      // A whole body that is wrong comes back the same from a healthy server;
      // from one that answered with an error it may not.
      return status >= 500 && status <= 599;
    case TransferFailure::None:
    case TransferFailure::Permanent:
      return false;
  }
  return false;
}

std::int32_t RetryDelayMs(const RetryTiming& timing, std::int32_t retry, std::uint32_t random) {
  if (timing.firstDelayMs <= 0 || retry < 1) return 0;
  std::int64_t base = timing.firstDelayMs;
  for (std::int32_t i = 1; i < retry && base < (std::int64_t{1} << 40); ++i) base *= 2;
  // random % 501 spreads the factor over 0.750 .. 1.250 in steps of 0.001.
  const std::int64_t delay = base * (750 + static_cast<std::int64_t>(random % 501)) / 1000;
  return delay > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<std::int32_t>(delay);
}

}  // namespace update
