// How far apart two spans may lie and still be fetched in one request: as far
// as the line reads in the time another request waits for its first byte.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "update/transfer/line_meter.h"

namespace {

TEST(JoiningGap, IsWhatTheLineReadsWhileARequestWaitsForItsFirstByte) {
  struct Case {
    const char* label;
    double bytesPerSecond;
    double firstByteSeconds;
    std::uint64_t gap;
  };
  const Case cases[] = {
      {"2 MB/s, 50 ms", 2e6, 0.05, 100000},
      {"loopback: 300 MB/s, 0.1 ms", 3e8, 0.0001, 30000},
      {"a slow line: 50 KB/s, 200 ms", 5e4, 0.2, 10000},
      {"a fast far line is capped", 1e8, 1.0, update::kMaxJoiningGap},
      {"no time to first byte joins only touching spans", 1e8, 0, 0},
      {"no speed", 0, 0.05, 0},
      {"not a number", std::nan(""), 0.05, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.gap, update::JoiningGap(c.bytesPerSecond, c.firstByteSeconds)) << c.label;
}

TEST(LineMeter, TimesOnlyBodiesLongEnoughTakesTheShortestWaitAndStartsFromASafeDefault) {
  update::LineMeter meter;
  EXPECT_FALSE(meter.Measured());
  EXPECT_EQ(update::JoiningGap(update::kDefaultBytesPerSecond, update::kDefaultFirstByteSeconds), meter.Gap());
  EXPECT_LT(meter.Gap(), 64u * 1024);

  // A descriptor: its 400 bytes in no measurable time say nothing of the speed.
  meter.Add({400, 0.010, 0.0});
  EXPECT_TRUE(meter.Measured());
  EXPECT_DOUBLE_EQ(update::kDefaultBytesPerSecond, meter.BytesPerSecond());
  EXPECT_DOUBLE_EQ(0.010, meter.FirstByteSeconds());
  meter.Add({400, 0.030, 0.0});  // a connection's first request, a cold file: the server's time, not the line's
  EXPECT_DOUBLE_EQ(0.010, meter.FirstByteSeconds());
  // A manifest of 200 KB in 0.3 s, then a range of 1 MB in 0.2 s: 1.2 MB in 0.5 s.
  meter.Add({200000, 0.030, 0.3});
  meter.Add({1000000, 0.020, 0.2});
  EXPECT_DOUBLE_EQ(2.4e6, meter.BytesPerSecond());
  EXPECT_DOUBLE_EQ(0.010, meter.FirstByteSeconds());
  EXPECT_EQ(24000u, meter.Gap());
  // A body in one burst: 300 KB within two of its waits is no speed of the line.
  meter.Add({300000, 0.010, 0.02});
  EXPECT_DOUBLE_EQ(2.4e6, meter.BytesPerSecond());
  // A sample libcurl could not time (negative) is left out.
  meter.Add({1000000, -1, 0.1});
  EXPECT_DOUBLE_EQ(2.4e6, meter.BytesPerSecond());
}

}  // namespace
