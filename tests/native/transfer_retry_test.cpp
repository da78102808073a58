// Which transfer failures are tried again, and how long the launcher waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>

#include "update/transfer/transfer_retry.h"
#include "update/transfer_rules.h"

namespace {

using update::TransferFailure;

TEST(TransferRetry, OnlyFailuresThatMayPassAreRetried) {
  struct Case { TransferFailure failure; std::int32_t status; bool retry; };
  const Case cases[] = {
      {TransferFailure::None, 200, false},
      {TransferFailure::ConnectFailed, 0, true},
      {TransferFailure::TimedOut, 200, true},
      {TransferFailure::BodyCut, 200, true},
      {TransferFailure::BodyShort, 200, true},
      {TransferFailure::BodyWrong, 200, false},  // the server holds another file
      {TransferFailure::BodyWrong, 404, false},
      {TransferFailure::BodyWrong, 499, false},
      {TransferFailure::BodyWrong, 500, true},
      {TransferFailure::BodyWrong, 503, true},
      {TransferFailure::BodyWrong, 599, true},
      {TransferFailure::BodyWrong, 600, false},
      {TransferFailure::Permanent, 503, false},  // a local write error, a not-found page
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.retry, update::MayRetry(c.failure, c.status))
        << static_cast<int>(c.failure) << " status " << c.status;
}

TEST(TransferRetry, DelaysDoubleWithAQuarterOfJitterEitherWay) {
  const update::RetryTiming timing;  // 1 s, then 2 s, then 4 s
  const std::int32_t base[] = {1000, 2000, 4000};
  for (std::int32_t retry = 1; retry <= 3; ++retry) {
    std::int32_t low = INT32_MAX, high = 0;
    for (std::uint32_t random = 0; random < 2000; random += 7) {
      const std::int32_t d = update::RetryDelayMs(timing, retry, random * 2654435761u);
      low = std::min(low, d);
      high = std::max(high, d);
    }
    const std::int32_t b = base[retry - 1];
    EXPECT_GE(low, b * 3 / 4) << retry;
    EXPECT_LE(high, b * 5 / 4) << retry;
    EXPECT_LT(low, b * 9 / 10) << "no jitter below, retry " << retry;
    EXPECT_GT(high, b * 11 / 10) << "no jitter above, retry " << retry;
  }
  update::RetryTiming fast;
  fast.firstDelayMs = 20;
  EXPECT_LE(update::RetryDelayMs(fast, 3, 500), 100);
  fast.firstDelayMs = 0;
  EXPECT_EQ(0, update::RetryDelayMs(fast, 2, 123));
  fast.firstDelayMs = 1000;
  EXPECT_EQ(0x7FFFFFFF, update::RetryDelayMs(fast, 60, 500));  // held, never wrapped
}

TEST(StagingSpace, FilesTakeWholeClustersAndSumsDoNotWrap) {
  EXPECT_EQ(0u, update::StagedFileBytes(0));
  EXPECT_EQ(4096u, update::StagedFileBytes(1));
  EXPECT_EQ(4096u, update::StagedFileBytes(4096));
  EXPECT_EQ(8192u, update::StagedFileBytes(4097));
  EXPECT_EQ(UINT64_MAX, update::StagedFileBytes(UINT64_MAX));
  EXPECT_EQ(5u, update::AddBytes(2, 3));
  EXPECT_EQ(UINT64_MAX, update::AddBytes(UINT64_MAX - 1, 3));
}

}  // namespace
