// A run that begins while the page shows, in whole worker runs against
// nginx: the check and the fetch before the click with Game and install.cfg
// untouched and no box, the click that commits what was fetched, a
// descriptor grown old that is fetched again (and another release that
// drops the old work), a failure that only the click reports, and the
// background cap that the click lifts under the running transfer.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"

namespace {

using namespace testing_update;
using Clock = std::chrono::steady_clock;

std::string Incompressible(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>(rng() & 0xFF);
  return bytes;
}

class HandOverRun : public Worker {
 protected:
  void SetUp() override {
    Worker::SetUp();
    handOver_ = &handOver;
    PlaceGame();
    ASSERT_TRUE(WriteWholeFile(Game() + "\\old.txt", "old"));
    SetInstalled(1);
  }

  // Version `version` as `name`, its file new.txt saying so, named with its
  // Sha256 and Size; version.cfg names it (served under `location`).
  void ServeRelease(int version, const std::string& name, std::size_t padding = 0,
                    const std::string& location = "") {
    std::vector<ZipEntry> entries = {{"new.txt", "version " + std::to_string(version), 0x20, true}};
    if (padding != 0) entries.push_back({"pad.bin", Incompressible(padding, static_cast<std::uint32_t>(version)), 0x20, false});
    ASSERT_TRUE(WriteZip(served_ / name, entries));
    const std::string archive = ReadWholeFile(served_ / name);
    versionUrl_ = Serve("version.cfg", "[Launcher]\r\nVersion=" + std::to_string(version) +
                                           "\r\nUrl=" + HttpUrl(location + served_.UrlPath(name)) +
                                           "\r\nSha256=" + Sha256Hex(archive) +
                                           "\r\nSize=" + std::to_string(archive.size()) + "\r\n");
  }

  update::UpdateStage Stage() const { return state_.Snapshot().stage; }

  update::HandOver handOver;
  std::string versionUrl_;
};

TEST_F(HandOverRun, TheFetchWaitsForTheClickWithGameUntouchedThenCommits) {
  ServeRelease(2, "c2.zip");
  bool checkedWhileReady = false;
  Clock::time_point readyAt;
  duringRun_ = [&] {
    if (handOver.Entered() || Stage() != update::UpdateStage::Ready) return;
    if (!checkedWhileReady) {
      readyAt = Clock::now();
      checkedWhileReady = true;
      EXPECT_EQ(1, InstalledVersion());
      EXPECT_EQ("old", ReadWholeFile(Game() + "\\old.txt"));
      EXPECT_FALSE(Exists(Game() + "\\new.txt"));
      EXPECT_TRUE(g_observed->boxes.empty());
      EXPECT_FALSE(g_observed->closeRequested) << "the run ended before the click";
    }
    if (Clock::now() - readyAt > std::chrono::milliseconds(500)) handOver.Enter();
  };
  const Observed seen = Run(versionUrl_);
  EXPECT_TRUE(checkedWhileReady) << Log();
  EXPECT_TRUE(seen.boxes.empty()) << Log();
  EXPECT_TRUE(seen.closeRequested);
  EXPECT_EQ(2, InstalledVersion()) << Log();
  EXPECT_EQ("version 2", ReadWholeFile(Game() + "\\new.txt"));
  EXPECT_TRUE(ShownInOrder(kUpdateStages, seen.stages));
  EXPECT_EQ(1u, ServedRequests(served_.UrlPath("c2.zip")).size()) << "the click fetched it again";
  EXPECT_EQ(update::UpdateStage::Current, Stage());
  EXPECT_NE(std::string::npos, WaitForFile(Game() + "\\launch.txt", 10000).find("TLVR.exe\""));
}

TEST_F(HandOverRun, ADescriptorGrownOldIsFetchedAgainAndAnotherReleaseDropsTheOldWork) {
  const struct {
    const char* name;
    std::uint32_t freshMs;
    int installed;
  } cases[] = {
      {"fresh: what was fetched is committed", 10u * 60u * 1000u, 2},
      {"old: checked again, version 3 installed instead", 0, 3},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir folder;
    UseDirectory(folder.Path());
    PlaceGame();
    SetInstalled(1);
    update::HandOver fresh;
    handOver_ = &fresh;
    state_.Publish(update::UpdateState{});
    descriptorFreshMs_ = c.freshMs;
    const std::string v2 = "r" + std::to_string(round) + "v2.zip";
    const std::string v3 = "r" + std::to_string(round++) + "v3.zip";
    ServeRelease(2, v2);
    bool switched = false;
    duringRun_ = [&] {
      if (switched || Stage() != update::UpdateStage::Ready) return;
      switched = true;
      ServeRelease(3, v3);  // released while the page showed
      fresh.Enter();
    };
    const Observed seen = Run(versionUrl_);
    EXPECT_TRUE(seen.boxes.empty()) << Log();
    EXPECT_EQ(c.installed, InstalledVersion()) << Log();
    EXPECT_EQ("version " + std::to_string(c.installed), ReadWholeFile(Game() + "\\new.txt"));
    EXPECT_EQ(c.installed == 3 ? 1u : 0u, ServedRequests(served_.UrlPath(v3)).size());
  }
}

TEST_F(HandOverRun, ABackgroundFailureShowsNoBoxAndTheClickTriesAgain) {
  // version.cfg names an archive that is not there yet.
  ServeRelease(2, "late.zip");
  const std::string archive = ReadWholeFile(served_ / "late.zip");
  ASSERT_TRUE(::DeleteFileA((served_ / "late.zip").c_str()));
  bool failedQuietly = false;
  duringRun_ = [&] {
    if (handOver.Entered() || Stage() != update::UpdateStage::Failed) return;
    failedQuietly = g_observed->boxes.empty() && !g_observed->closeRequested &&
                    Log().find("Fetching the update in the background failed: entering the game tries again\n") !=
                        std::string::npos;
    ASSERT_TRUE(WriteWholeFile(served_ / "late.zip", archive));  // the server is mended
    handOver.Enter();
  };
  const Observed seen = Run(versionUrl_);
  EXPECT_TRUE(failedQuietly) << Log();
  EXPECT_TRUE(seen.boxes.empty()) << Log();
  EXPECT_EQ(2, InstalledVersion()) << Log();
}

TEST_F(HandOverRun, TheClickLiftsTheBackgroundCapUnderTheRunningTransfer) {
  constexpr std::size_t kArchive = 2u << 20;
  constexpr std::int64_t kBackgroundCap = 64 * 1024;  // 32 s for the whole archive
  ServeRelease(2, "capped.zip", kArchive);
  handOver.SetCaps(kBackgroundCap, 0);
  const std::string part = At("Temp\\ClientContent.part");
  Clock::time_point fetchingAt;
  std::uint64_t atClick = 0;
  duringRun_ = [&] {
    if (handOver.Entered() || Stage() != update::UpdateStage::Fetching) return;
    if (fetchingAt == Clock::time_point{}) fetchingAt = Clock::now();
    if (Clock::now() - fetchingAt < std::chrono::milliseconds(1500)) return;
    atClick = ReadWholeFile(part).size();
    handOver.Enter();
  };
  const Clock::time_point start = Clock::now();
  const Observed seen = Run(versionUrl_);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_TRUE(seen.boxes.empty()) << Log();
  EXPECT_EQ(2, InstalledVersion()) << Log();
  std::printf("%llu bytes under the background cap at the click; the run took %.1f s\n",
              static_cast<unsigned long long>(atClick), seconds);
  EXPECT_LT(atClick, kArchive / 4) << "the background cap did not hold";
  EXPECT_LT(seconds, 16.0) << "the click did not lift the cap";
  EXPECT_EQ(1u, ServedRequests(served_.UrlPath("capped.zip")).size()) << "the transfer was begun again";
}

}  // namespace
