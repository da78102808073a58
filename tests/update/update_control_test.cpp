// The player's control over an update, in whole worker runs against nginx:
// a cancel during the download (within a second, the part kept, nothing
// installed, no box, no game), a cancel during the commit (finished first),
// the speed cap, and the stage line the progress window draws while the
// archive arrives at a known rate.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "base/progress_targets.h"
#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"
#include "ui/progress_bar.h"
#include "ui/window_set.h"
#include "update/transfer/http_download.h"

namespace {

using namespace testing_update;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kMiB = 1024 * 1024;
constexpr double kServedRate = 2.0 * kMiB;  // nginx's /rate/ location: limit_rate 2m
const char kLeft[] = "\xca\xa3\xd3\xe0 ";   // "剩余 "
const char kMinutes[] = "\xb7\xd6";         // 分
const char kSeconds[] = "\xc3\xeb";         // 秒

std::string Incompressible(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i + 4 <= size; i += 4) {
    const std::uint32_t r = rng();
    bytes[i] = static_cast<char>(r);
    bytes[i + 1] = static_cast<char>(r >> 8);
    bytes[i + 2] = static_cast<char>(r >> 16);
    bytes[i + 3] = static_cast<char>(r >> 24);
  }
  return bytes;
}

std::uint64_t FileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

double MsSince(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

class Control : public Worker {
 protected:
  // An installed version 1 with a file of its own, to see that nothing changes.
  void PlantOldClient() {
    PlaceGame();
    ASSERT_TRUE(WriteWholeFile(Game() + "\\old.txt", "old"));
    SetInstalled(1);
  }
  // Version 2: `entries` zipped, served under `location` ("" or "/rate"),
  // named with its Sha256 and Size so that it arrives in a part.
  std::string ServeRelease(const std::vector<ZipEntry>& entries, const std::string& location) {
    EXPECT_TRUE(WriteZip(served_ / "client.zip", entries));
    const std::string archive = ReadWholeFile(served_ / "client.zip");
    archiveSize_ = archive.size();
    return Serve("version.cfg", "[Launcher]\r\nVersion=2\r\nUrl=" + HttpUrl(location + served_.UrlPath("client.zip")) +
                                    "\r\nSha256=" + Sha256Hex(archive) + "\r\nSize=" + std::to_string(archive.size()) +
                                    "\r\n");
  }
  std::size_t archiveSize_ = 0;
};

TEST_F(Control, CancelDuringTheDownloadEndsWithinASecondAndKeepsWhatArrived) {
  PlantOldClient();
  // One stream, whose part's size is what arrived (segments write ahead of
  // it: transfer_connections_tests stop those).
  limits_.connections = 1;
  const std::string version = ServeRelease({{"big.dat", Incompressible(16 * kMiB, 1), 0x20, true}}, "/rate");
  const std::string part = At("Temp\\ClientContent.part");
  bool asked = false;
  Clock::time_point askedAt;
  duringRun_ = [&] {
    if (!asked && FileBytes(part) >= archiveSize_ * 3 / 10) {
      progress_->stop.Request();  // what the progress window's WM_CLOSE does
      asked = true;
      askedAt = Clock::now();
    }
  };
  const Observed seen = Run(version);
  const double latencyMs = MsSince(askedAt);
  ASSERT_TRUE(asked) << "the download never reached 30 %: " << Log();
  std::printf("cancel during the download: the worker ended %.0f ms after the request\n", latencyMs);
  EXPECT_LT(latencyMs, 3000.0) << "1 s and a loaded machine's slack";

  EXPECT_TRUE(seen.closeRequested);
  EXPECT_TRUE(seen.boxes.empty());
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Cancelled\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("curl (")) << "a cancel is no transfer failure: " << log;
  EXPECT_EQ(1, InstalledVersion());
  EXPECT_EQ("old", ReadWholeFile(Game() + "\\old.txt"));
  EXPECT_FALSE(Exists(Game() + "\\big.dat"));
  EXPECT_FALSE(Exists(At("Temp\\Staging")));
  ::Sleep(300);
  EXPECT_FALSE(Exists(Game() + "\\launch.txt")) << "the game was started";
  // What arrived stays for the next run's range request.
  EXPECT_GE(FileBytes(part), archiveSize_ * 3 / 10);
  EXPECT_LT(FileBytes(part), archiveSize_);
}

TEST_F(Control, CancelDuringTheCommitFinishesItThenClosesWithoutTheGame) {
  PlantOldClient();
  // A folder the client has already: its 3,000 files are moved one by one,
  // which takes long enough to be cancelled (a new folder would be one move).
  ASSERT_TRUE(::CreateDirectoryA((Game() + "\\data").c_str(), nullptr));
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 3000; ++i)
    entries.push_back({"data/f" + std::to_string(i) + ".dat", "new " + std::to_string(i), 0x20, true});
  const std::string version = ServeRelease(entries, "");
  bool asked = false;
  duringRun_ = [&] {
    if (!asked && Exists(At("Temp\\commit.journal"))) {
      progress_->stop.Request();
      asked = true;
    }
  };
  const Observed seen = Run(version);
  ASSERT_TRUE(asked) << "the commit passed too quickly to be cancelled: " << Log();

  EXPECT_TRUE(seen.closeRequested);
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_EQ(2, InstalledVersion()) << Log();
  int newFiles = 0;
  for (int i = 0; i < 3000; ++i)
    newFiles += ReadWholeFile(Game() + "\\data\\f" + std::to_string(i) + ".dat") == "new " + std::to_string(i);
  EXPECT_EQ(3000, newFiles) << "the commit was not finished";
  EXPECT_FALSE(Exists(At("Temp\\commit.journal")));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Cancelled\n")) << log;
  ::Sleep(300);
  EXPECT_FALSE(Exists(Game() + "\\launch.txt")) << "the game was started after the cancel";
}

TEST_F(Control, SpeedCapHoldsATransferToItsRate) {
  ASSERT_TRUE(WriteWholeFile(served_ / "capped.bin", Incompressible(16 * kMiB, 2)));
  update::TransferLimits limits;
  limits.maxReceiveBytesPerSecond = 2048 * 1024;  // [Download] MaxKBps=2048
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(update::FetchFile(At("capped.bin").c_str(), HttpUrl(served_.UrlPath("capped.bin")).c_str(), nullptr,
                                limits, retry_));
  const double seconds = MsSince(start) / 1000.0;
  std::printf("16 MiB under MaxKBps=2048: %.1f s\n", seconds);
  EXPECT_EQ(static_cast<std::uint64_t>(16 * kMiB), FileBytes(At("capped.bin")));
  EXPECT_GE(seconds, 7.0);
}

// The speed after "正在更新游戏资源... 12/24 MB " and the time left after "剩余 ",
// read from the line exactly as the window drew it.
bool ParseLine(const std::string& line, double* megabytesPerSecond, double* secondsLeft) {
  const std::size_t unit = line.find(" MB/s");
  const std::size_t left = line.find(kLeft);
  if (unit == std::string::npos || left == std::string::npos) return false;
  const std::size_t number = line.rfind(' ', unit - 1);
  *megabytesPerSecond = std::strtod(line.c_str() + number + 1, nullptr);
  const char* at = line.c_str() + left + std::string(kLeft).size();
  char* end = nullptr;
  const long first = std::strtol(at, &end, 10);
  if (std::string(end).compare(0, 2, kMinutes) == 0) {
    const long second = std::strtol(end + 2, nullptr, 10);
    *secondsLeft = static_cast<double>(first * 60 + second);
  } else if (std::string(end).compare(0, 2, kSeconds) == 0) {
    *secondsLeft = static_cast<double>(first);
  } else {
    return false;
  }
  return true;
}

TEST_F(Control, StageLineShowsTheServedRateAndTheTimeLeft) {
  PlaceGame();
  SetInstalled(1);
  const std::string version = ServeRelease({{"big.dat", Incompressible(24 * kMiB, 3), 0x20, true}}, "/rate");
  limits_.connections = 1;  // one connection at the location's rate

  // The real progress window, painted by this thread's message handling.
  ui::ZProgressBar bar;
  bar.Init(::GetModuleHandleA(nullptr), nullptr);  // no images here: the plain window
  ASSERT_TRUE(bar.RegisterWindow());
  ASSERT_NE(nullptr, bar.Create("ProgressBar", 0, 0, 0, 0, 0, WS_POPUP | WS_VISIBLE | WS_BORDER));
  ui::WindowSet set;
  set.progressBar = &bar;
  ui::SetWindowSet(&set);
  ::DestroyWindow(bar_);
  bar_ = bar.Window();
  progress_ = &bar.targets;

  bool counting = false, read = false, ended = false;
  Clock::time_point countingAt, readAt, endedAt;
  std::string line;
  duringRun_ = [&] {
    const bool downloading = bar.targets.stageIndex.load() == 1 &&
                             bar.targets.count.Unit() == progress::CountUnit::Bytes &&
                             bar.targets.count.total.load() > 0;
    if (!counting && downloading) {
      counting = true;
      countingAt = Clock::now();
    }
    if (counting && !read && MsSince(countingAt) >= 6000) {
      line = bar.DrawnStageLine();
      read = true;
      readAt = Clock::now();
    }
    if (counting && !ended && bar.targets.stageIndex.load() >= 2) {
      ended = true;
      endedAt = Clock::now();
    }
  };
  const Observed seen = Run(version);
  ui::SetWindowSet(nullptr);
  ASSERT_TRUE(read && ended) << Log();
  EXPECT_EQ(2, InstalledVersion());
  EXPECT_TRUE(seen.boxes.empty());

  double speed = 0, shownLeft = 0;
  ASSERT_TRUE(ParseLine(line, &speed, &shownLeft)) << line;
  const double measuredLeft = std::chrono::duration<double>(endedAt - readAt).count();
  std::printf("stage line after 6 s: %.1f MB/s shown (served 2.0), %.0f s left shown, %.1f s measured\n", speed,
              shownLeft, measuredLeft);
  EXPECT_NEAR(kServedRate / kMiB, speed, 0.25 * kServedRate / kMiB) << line;
  EXPECT_NEAR(measuredLeft, shownLeft, 0.30 * measuredLeft) << line;
}

}  // namespace
