// The player's cancel, on the launcher itself: its progress window closed
// (WM_CLOSE, as Alt+F4 sends it) about 30 % into the archive's download. The
// launcher ends at once without a box, Game and install.cfg as they were, the
// game not started, "Cancelled" in download.log; the next run continues the
// archive with a range request and installs it. The first run is capped with
// [Download] MaxKBps, which is also what makes it slow enough to be caught.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "launcher_process.h"
#include "tests/update/test_support.h"

namespace {

using testing_update::Exists;
using testing_update::ReadWholeFile;
using testing_update::WriteWholeFile;

const char* const kSkinFiles[] = {"bg.png",      "min_n.png", "min_h.png", "close_n.png",
                                  "close_h.png", "progress_bg.png", "bar1.png", "bar2.png",
                                  "launcher.ico"};
constexpr std::size_t kArchiveEntryBytes = 16 * 1024 * 1024;

std::uint64_t FileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class CancelledUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CopyFileA(LAUNCHER_SCRIPTED_EXE, (run_ / "LauncherScripted.exe").c_str(), FALSE));
    ASSERT_TRUE(::CreateDirectoryA((run_ / "Data").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((run_ / "Data\\skin").c_str(), nullptr));
    for (const char* file : kSkinFiles)
      ASSERT_TRUE(::CopyFileA((std::string(E2E_SKIN_DIR) + "\\" + file).c_str(),
                              (run_ / ("Data\\skin\\" + std::string(file))).c_str(), FALSE));
    ASSERT_TRUE(WriteWholeFile(run_ / "page.js", "window.external.IntoGame('cancelled');"));

    std::mt19937 rng(22);
    std::string big(kArchiveEntryBytes, '\0');
    for (char& b : big) b = static_cast<char>(rng() & 0xFF);
    const std::string game = ReadWholeFile(TEST_GAME_STUB);
    ASSERT_TRUE(testing_update::WriteZip(served_ / "client.zip", {{"TLVR.exe", game, 0x20, true},
                                                                  {"big.dat", big, 0x20, true}}));
    const std::string archive = ReadWholeFile(served_ / "client.zip");
    archiveSize_ = archive.size();
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg",
                               "[Launcher]\r\nVersion=2\r\nUrl=" + testing_update::HttpUrl(served_.UrlPath("client.zip")) +
                                   "\r\nSha256=" + testing_update::Sha256Hex(archive) +
                                   "\r\nSize=" + std::to_string(archive.size()) + "\r\n"));

    // The installed version 1.
    ASSERT_TRUE(::CreateDirectoryA(Game().c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(Game() + "\\TLVR.exe", game));
    ASSERT_TRUE(WriteWholeFile(Game() + "\\old.txt", "old"));
    ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "Version", "1", (run_ / "install.cfg").c_str()));
  }

  void WriteConfig(const std::string& extra) {
    std::string base = testing_update::HttpUrl(served_.UrlPath(""));
    base.pop_back();
    std::string config = ReadWholeFile(E2E_CONFIG_TEMPLATE);
    const std::string marker = "@BASE_URL@";
    for (std::size_t at; (at = config.find(marker)) != std::string::npos;) config.replace(at, marker.size(), base);
    ASSERT_TRUE(WriteWholeFile(run_ / "Data\\Config.cfg", config + extra));
  }

  std::string Game() const { return run_ / "Game"; }
  int Installed() const {
    return static_cast<int>(::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str()));
  }

  testing_update::ScratchDir run_;
  testing_update::ServedDir served_;
  std::size_t archiveSize_ = 0;
};

TEST_F(CancelledUpdate, ClosingTheProgressWindowEndsTheLauncherAndTheNextRunContinues) {
  // One connection, whose part's size is what arrived.
  WriteConfig("\r\n[Download]\r\nMaxKBps=2048\r\nConnections=1\r\n");
  ASSERT_TRUE(WriteWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));  // nginx appends
  const std::string part = run_ / "Temp\\ClientContent.part";
  {
    e2e::LauncherProcess launcher;
    ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
    const HWND progress = launcher.FindWindowOfClass("ZProgressBar", 60000);
    ASSERT_NE(nullptr, progress);
    const auto shown = std::chrono::steady_clock::now();
    while (FileBytes(part) < archiveSize_ * 3 / 10 && !launcher.WaitForExit(10)) {
    }
    const double toThirtyPercent = std::chrono::duration<double>(std::chrono::steady_clock::now() - shown).count();
    ASSERT_GE(FileBytes(part), archiveSize_ * 3 / 10) << ReadWholeFile(run_ / "download.log");
    // 4.8 MB under the cap of 2 MiB/s; uncapped, loopback brings it in a fraction of a second.
    EXPECT_GT(toThirtyPercent, 1.5) << "MaxKBps did not cap the download";

    const auto closed = std::chrono::steady_clock::now();
    ASSERT_TRUE(::PostMessageA(progress, WM_CLOSE, 0, 0));
    ASSERT_TRUE(launcher.WaitForExit(10000)) << "the launcher did not end after the cancel";
    const double exitMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - closed).count();
    std::printf("cancel at %.0f %% of the download: the launcher ended %.0f ms after WM_CLOSE\n",
                100.0 * static_cast<double>(FileBytes(part)) / static_cast<double>(archiveSize_), exitMs);
    EXPECT_LT(exitMs, 5000.0) << "1 s and a loaded machine's slack";
    EXPECT_EQ(0u, launcher.ExitCode());
    EXPECT_TRUE(launcher.Boxes().empty());
  }
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_NE(std::string::npos, log.find("Cancelled\n")) << log;
  EXPECT_EQ(1, Installed());
  EXPECT_EQ("old", ReadWholeFile(Game() + "\\old.txt"));
  EXPECT_FALSE(Exists(Game() + "\\big.dat"));
  ::Sleep(500);
  EXPECT_FALSE(Exists(Game() + "\\launch.txt")) << "the game was started";
  const std::uint64_t kept = FileBytes(part);
  EXPECT_GE(kept, archiveSize_ * 3 / 10) << "what arrived was not kept";

  // The next run, without the cap and on its default connections: range
  // requests for exactly the rest (in segments), then the install.
  WriteConfig("");
  e2e::LauncherProcess launcher;
  ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
  ASSERT_TRUE(launcher.WaitForExit(120000));
  EXPECT_TRUE(launcher.Boxes().empty());
  EXPECT_EQ(2, Installed()) << ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(kArchiveEntryBytes, FileBytes(Game() + "\\big.dat"));
  std::vector<std::pair<int, long long>> served;
  for (int i = 0; i < 150; ++i) {
    served = testing_update::ServedRequests(served_.UrlPath("client.zip"));
    if (served.size() >= 2) break;
    ::Sleep(200);
  }
  long long ranged = 0;  // the cancelled run's one request was answered with a 200
  for (const auto& request : served) ranged += request.first == 206 ? request.second : 0;
  EXPECT_EQ(static_cast<long long>(archiveSize_ - kept), ranged)
      << "not the rest of the archive: " << ReadWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
  for (int i = 0; i < 300 && !Exists(Game() + "\\launch.txt"); ++i) ::Sleep(50);  // the stub game ends
}

}  // namespace
