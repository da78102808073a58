// The progress window's stage line (counts, speed, time left, fitting) and the
// estimate of a transfer's speed and time left behind it.
#include "ui/stage_line.h"
#include "ui/transfer_estimate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

const char kUpdating[] = "\xd5\xfd\xd4\xda\xb8\xfc\xd0\xc2\xd3\xce\xcf\xb7\xd7\xca\xd4\xb4...";  // 正在更新游戏资源...
const char kLeft[] = "\xca\xa3\xd3\xe0";                                                    // 剩余
const char kFiles[] = "\xb8\xf6\xce\xc4\xbc\xfe";                                          // 个文件
constexpr std::int64_t kMiB = 1024 * 1024;

TEST(StageLine, FormatsCountsSpeedsAndTimesLeft) {
  struct Case {
    std::string got;
    std::string want;
  };
  const Case cases[] = {
      {ui::FormatCount(ui::LineUnit::Bytes, 312 * kMiB + kMiB / 2, 1024 * kMiB), "312/1024 MB"},
      {ui::FormatCount(ui::LineUnit::Bytes, 1024 * kMiB - 1, 1024 * kMiB), "1023/1024 MB"},  // not yet done
      {ui::FormatCount(ui::LineUnit::Bytes, 5 * kMiB / 2, 8 * kMiB), "2.5/8.0 MB"},
      {ui::FormatCount(ui::LineUnit::Bytes, 3 * kMiB, 5000 * kMiB + 4096 * kMiB), "3/9096 MB"},  // past 4 GiB
      {ui::FormatCount(ui::LineUnit::Files, 120, 5000), std::string("120/5000 ") + kFiles},
      {ui::FormatSpeed(8.4 * kMiB), "8.4 MB/s"},
      {ui::FormatSpeed(512.0 * 1024), "512 KB/s"},
      {ui::FormatTimeLeft(25), std::string(kLeft) + " 25\xc3\xeb"},
      {ui::FormatTimeLeft(85), std::string(kLeft) + " 1\xb7\xd6" "25\xc3\xeb"},
      {ui::FormatTimeLeft(2 * 3600 + 5 * 60 + 9), std::string(kLeft) + " 2\xd0\xa1\xca\xb1" "05\xb7\xd6"},
      {ui::FormatTimeLeft(-3), std::string(kLeft) + " 0\xc3\xeb"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, c.got);
}

TEST(StageLine, ShowsBytesWhileDownloadingAndFilesWhileStagingOrChecking) {
  struct Case {
    std::int32_t stage;
    ui::LineUnit unit;
    bool shown;
  };
  const Case cases[] = {
      {0, ui::LineUnit::Bytes, false},  // the descriptor's few bytes are not counted
      {1, ui::LineUnit::Bytes, true},  {1, ui::LineUnit::Files, false}, {2, ui::LineUnit::Files, true},
      {2, ui::LineUnit::Bytes, false}, {4, ui::LineUnit::Files, true},  {3, ui::LineUnit::Files, false},
      {1, ui::LineUnit::None, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.shown, ui::StageShowsCount(c.stage, c.unit)) << "stage " << c.stage << " unit " << static_cast<int>(c.unit);
}

// Every byte is 7 pixels wide.
std::int32_t SevenEach(const std::string& text) { return static_cast<std::int32_t>(text.size()) * 7; }

TEST(StageLine, DropsTheTimeLeftFirstThenTheSpeedToFit) {
  ui::StageLineParts parts;
  parts.stageText = kUpdating;
  parts.unit = ui::LineUnit::Bytes;
  parts.done = 312 * kMiB;
  parts.total = 1024 * kMiB;
  parts.speedKnown = true;
  parts.bytesPerSecond = 8.4 * kMiB;
  parts.timeLeftKnown = true;
  parts.secondsLeft = 85;
  const std::string stage = kUpdating;
  const std::string count = stage + " 312/1024 MB";
  const std::string speed = count + " 8.4 MB/s";
  const std::string full = speed + " " + kLeft + " 1\xb7\xd6" "25\xc3\xeb";
  struct Case {
    std::int32_t width;
    std::string want;
  };
  const Case cases[] = {
      {10000, full},
      {SevenEach(full), full},
      {SevenEach(full) - 1, speed},
      {SevenEach(count), count},
      {SevenEach(count) - 1, stage},
      {5, stage},  // the stage text is drawn even when it does not fit
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, ui::ComposeStageLine(parts, c.width, &SevenEach)) << c.width;

  // What is not known is not shown: no time left yet, then no speed yet either.
  parts.timeLeftKnown = false;
  EXPECT_EQ(speed, ui::ComposeStageLine(parts, 10000, &SevenEach));
  parts.speedKnown = false;
  EXPECT_EQ(count, ui::ComposeStageLine(parts, 10000, &SevenEach));
  parts.total = 0;  // no total reported yet
  EXPECT_EQ(stage, ui::ComposeStageLine(parts, 10000, &SevenEach));
}

// Feeds `estimate` a transfer at `bytesPerSecond`, a sample every 250 ms
// from `fromMs` to `toMs`, starting at `done`; returns the bytes done then.
std::int64_t Feed(ui::TransferEstimate* estimate, std::int64_t fromMs, std::int64_t toMs, std::int64_t done,
                  double bytesPerSecond, std::int64_t total) {
  for (std::int64_t ms = fromMs; ms <= toMs; ms += 250) {
    estimate->Sample(ms, done, total);
    done += static_cast<std::int64_t>(bytesPerSecond / 4);
  }
  return done;
}

TEST(TransferEstimate, AveragesTheSpeedAndShowsTheTimeLeftAfterThreeSeconds) {
  ui::TransferEstimate estimate;
  const std::int64_t total = 100 * kMiB;
  estimate.Sample(0, 0, total);
  EXPECT_FALSE(estimate.SpeedKnown());
  std::int64_t done = Feed(&estimate, 250, 2750, 2 * kMiB / 4, 2.0 * kMiB, total);
  EXPECT_TRUE(estimate.SpeedKnown());
  EXPECT_NEAR(2.0 * kMiB, estimate.BytesPerSecond(), 0.01 * kMiB);
  EXPECT_FALSE(estimate.TimeLeftKnown()) << "before 3 s of transfer";
  done = Feed(&estimate, 3000, 10000, done, 2.0 * kMiB, total);
  ASSERT_TRUE(estimate.TimeLeftKnown());
  const double rest = static_cast<double>(total - done + 2 * kMiB / 4) / (2.0 * kMiB);
  EXPECT_NEAR(rest, static_cast<double>(estimate.SecondsLeft()), 1.0);

  // The speed follows a change within its window; one slow second does not
  // make the time left jump, but it moves towards the new rest.
  const std::int64_t before = estimate.SecondsLeft();
  done = Feed(&estimate, 10250, 11000, done, 0.2 * kMiB, total);
  EXPECT_LT(estimate.BytesPerSecond(), 2.0 * kMiB);
  const double rawAtSlowSpeed = static_cast<double>(total - done) / estimate.BytesPerSecond();
  EXPECT_GT(rawAtSlowSpeed, static_cast<double>(before) * 1.2) << "the raw figure jumps";
  EXPECT_LT(static_cast<double>(estimate.SecondsLeft()), static_cast<double>(before) * 1.12) << "the shown one does not";
  EXPECT_GT(estimate.SecondsLeft(), before - 2) << "and it did not drop either";
  done = Feed(&estimate, 11250, 20000, done, 0.5 * kMiB, total);
  EXPECT_NEAR(static_cast<double>(total - done) / (0.5 * kMiB), static_cast<double>(estimate.SecondsLeft()),
              0.3 * static_cast<double>(total - done) / (0.5 * kMiB))
      << "after a while it has followed the slower speed";
}

TEST(TransferEstimate, AResumedTransferCountsOnlyWhatArrivesAndAnotherTransferStartsOver) {
  ui::TransferEstimate estimate;
  const std::int64_t total = 64 * kMiB;
  // Resumed at 40 MiB: the speed is of what arrives, not of what was on disk.
  Feed(&estimate, 0, 4000, 40 * kMiB, 1.0 * kMiB, total);
  EXPECT_NEAR(1.0 * kMiB, estimate.BytesPerSecond(), 0.01 * kMiB);
  EXPECT_TRUE(estimate.TimeLeftKnown());
  // A new transfer (its count goes back, or its total differs) starts over.
  estimate.Sample(4250, 0, total);
  EXPECT_FALSE(estimate.SpeedKnown());
  EXPECT_FALSE(estimate.TimeLeftKnown());
  Feed(&estimate, 4500, 9000, 0, 1.0 * kMiB, total);
  EXPECT_TRUE(estimate.TimeLeftKnown());
  estimate.Sample(9250, 5 * kMiB, 2 * total);
  EXPECT_FALSE(estimate.TimeLeftKnown());
}

}  // namespace
