// The update fetched while the page shows, on the launcher as a process
// against nginx: a page that polls window.external.UpdateState() every 100 ms
// and clicks only once the update is ready (Game and install.cfg untouched
// until then, nothing of the archive asked for after the click), and a
// launcher closed during that background fetch, whose next start goes on
// from what was kept (a 206 for the rest of the archive, or "Kept N entries
// fetched by an earlier run" for a manifest's ranges); and a next version
// fetched ahead while the live one is installed, then taken when the
// descriptor names it live ("Kept N entries fetched ahead").
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "launcher_installation.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "tools/pack/next_release.h"

namespace {

using testing_update::ClientTree;
using testing_update::Exists;
using testing_update::ReadWholeFile;
using testing_update::WriteWholeFile;
using Clock = std::chrono::steady_clock;

constexpr DWORD kRunTimeoutMs = 240000;
constexpr int kFiles = 24;
constexpr std::size_t kFileBytes = 300 * 1000;

// Polls the state, notes each new stage, and enters the game 1 s after the
// update is no longer checked or fetched, with what it saw as parameters.
const char kWaitingPage[] = R"js(
var seen = [];
function poll() {
  var text = window.external.UpdateState();
  var stage = text.split(";")[0].substring(6);
  if (seen.length == 0 || seen[seen.length - 1] != stage) seen.push(stage);
  if (stage == "checking" || stage == "fetching") {
    window.setTimeout(poll, 100);
    return;
  }
  window.setTimeout(function () { window.external.IntoGame("seen=" + seen.join(",") + ";" + text); }, 1000);
}
poll();
)js";

// Waits until the next version is fetched ahead (nextdone equal to
// nexttotal), then enters the game with what it saw; gives up after 120 s.
const char kAheadPage[] = R"js(
var looks = 0;
function poll() {
  var text = window.external.UpdateState();
  var state = {};
  var pairs = text.split(";");
  for (var i = 0; i < pairs.length; i++) {
    var eq = pairs[i].indexOf("=");
    state[pairs[i].substring(0, eq)] = pairs[i].substring(eq + 1);
  }
  if (state.next && state.nextdone == state.nexttotal) {
    window.external.IntoGame("ahead " + text);
  } else if (++looks > 1200) {
    window.external.IntoGame("gave up " + text);
  } else {
    window.setTimeout(poll, 100);
  }
}
poll();
)js";

std::uint64_t FileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Files below `folder`, its subfolders included.
std::size_t FilesBelow(const std::string& folder) {
  std::size_t count = 0;
  WIN32_FIND_DATAA found;
  const HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      count += FilesBelow(folder + "\\" + name);
    else
      ++count;
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return count;
}

class PageView : public e2e::LauncherInstallation {
 protected:
  void SetUp() override {
    Install(LAUNCHER_SCRIPTED_EXE, "LauncherScripted.exe");
    ASSERT_FALSE(HasFatalFailure());
    v1_["TLVR.exe"] = ReadWholeFile(TEST_GAME_STUB);
    v1_["data"] = "/";
    for (int i = 0; i < kFiles; ++i)
      v1_["data\\f" + std::to_string(i) + ".bin"] = testing_update::Noise(kFileBytes, static_cast<unsigned>(i));
    v2_ = v1_;
    for (int i = 0; i < kFiles; i += 2)  // every other file: a range each
      v2_["data\\f" + std::to_string(i) + ".bin"] = testing_update::Noise(kFileBytes, 5000u + i);
  }

  // Version `version` of `tree`, its archive below `archivePrefix` ("/rate":
  // nginx's 2 MB/s); with `manifest` false version.cfg names no manifest.
  testing_update::Release Publish(int version, const ClientTree& tree, const std::string& name,
                                  const std::string& archivePrefix, bool manifest = true) {
    archivePath_ = archivePrefix + served_.UrlPath(name);
    testing_update::Release release =
        testing_update::PublishRelease(served_.Path(), name, version, tree, testing_update::HttpUrl(archivePath_),
                                       testing_update::HttpUrl(served_.UrlPath(name + ".manifest")));
    archiveSize_ = release.archiveSize;
    if (!manifest) release.descriptor = release.descriptor.substr(0, release.descriptor.find("Manifest="));
    EXPECT_TRUE(WriteWholeFile(served_ / "version.cfg", release.descriptor));
    return release;
  }

  // Version 1 as a run of the launcher leaves it: Game, install.cfg and
  // install.manifest bound to it.
  void InstallVersion1() {
    Publish(1, v1_, "v1.zip", "");
    testing_update::WriteClientTree(run_ / "Game", v1_);
    const std::string manifest = ReadWholeFile(served_ / "v1.zip.manifest");
    ASSERT_TRUE(WriteWholeFile(run_ / "install.manifest", manifest));
    const std::string record = run_ / "install.cfg";
    ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "Version", "1", record.c_str()));
    ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "Sha256",
                                             testing_update::Sha256Hex(ReadWholeFile(served_ / "v1.zip")).c_str(),
                                             record.c_str()));
    ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "ManifestSha256", testing_update::Sha256Hex(manifest).c_str(),
                                             record.c_str()));
  }

  bool Version1StillInstalled() const {
    return InstalledVersion() == 1 && ReadWholeFile(run_ / "Game\\data\\f0.bin") == v1_.at("data\\f0.bin");
  }

  // Closes the launcher's main window while the page shows, once `ready`
  // says enough has arrived; true when it ended within a few seconds.
  template <typename Enough>
  void CloseWhenFetched(Enough enough) {
    WriteScript("var idle = true;");
    ASSERT_TRUE(launcher_.Start(ProgramPath(), "", run_.Path(), ScriptPath()));
    const HWND main = launcher_.FindWindowOfClass("ZIrregularWindow", 30000);
    ASSERT_NE(nullptr, main);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(60);
    while (!enough() && Clock::now() < deadline && !launcher_.WaitForExit(20)) {
    }
    ASSERT_TRUE(enough()) << ReadWholeFile(run_ / "download.log");
    const Clock::time_point closed = Clock::now();
    ASSERT_TRUE(::PostMessageA(main, WM_CLOSE, 0, 0));
    ASSERT_TRUE(launcher_.WaitForExit(10000)) << "the launcher did not end";
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - closed).count();
    std::printf("closed during the background fetch: the launcher ended %.0f ms later\n", ms);
    EXPECT_LT(ms, 5000.0) << "1 s for the transfer and a loaded machine's slack";
    EXPECT_EQ(0u, launcher_.ExitCode());
    EXPECT_TRUE(launcher_.Boxes().empty());
    EXPECT_TRUE(Version1StillInstalled());
  }

  ClientTree v1_, v2_;
  std::string archivePath_;
  std::size_t archiveSize_ = 0;
};

TEST_F(PageView, APageThatWaitsFindsTheUpdateReadyAndItsClickOnlyCommits) {
  ASSERT_NO_FATAL_FAILURE(InstallVersion1());
  Publish(2, v2_, "v2.zip", "/rate");
  WriteScript(kWaitingPage);
  ASSERT_TRUE(WriteWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));

  ASSERT_TRUE(launcher_.Start(ProgramPath(), "", run_.Path(), ScriptPath()));
  // Only a shown window: a loaded machine may find it before it is first shown.
  const HWND main = launcher_.FindWindowOfClass("ZIrregularWindow", 30000);
  ASSERT_NE(nullptr, main);
  // Until the click the page shows and the client stays as it was; the click
  // hides the main window (the progress window that follows may be gone
  // before a look finds it: the update is ready by then).
  std::size_t checks = 0;
  while (::IsWindowVisible(main) && !launcher_.WaitForExit(20)) {
    // The main window still shown after the look means the look came before the click.
    const bool unchanged = Version1StillInstalled();
    if (::IsWindowVisible(main)) {
      ASSERT_TRUE(unchanged) << "the client changed before the click";
      ++checks;
    }
  }
  ASSERT_GT(checks, 0u) << ReadWholeFile(run_ / "download.log");
  const Clock::time_point clicked = Clock::now();
  const testing_update::ServedArchive beforeClick = testing_update::ArchiveServed(archivePath_);
  const std::string launch = GameRecord(60000);
  const double clickToStart = std::chrono::duration<double>(Clock::now() - clicked).count();
  ASSERT_TRUE(launcher_.WaitForExit(kRunTimeoutMs));

  const std::string log = ReadWholeFile(run_ / "download.log");
  std::printf("%zu looks at the client while the page waited; the click to the game's start: %.2f s\n", checks,
              clickToStart);
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ(2u, InstalledVersion()) << log;
  EXPECT_TRUE(testing_update::GameHolds(run_ / "Game", v2_));
  // The page saw the fetch and then the update ready (the check may pass
  // before its first look), and what it handed over says so.
  const std::string ready = ",fetching,ready;state=ready;installed=1;available=2;done=";
  EXPECT_TRUE(launch.find(" seen=checking" + ready) != std::string::npos ||
              launch.find(" seen=" + ready.substr(1)) != std::string::npos)
      << launch;
  const testing_update::ServedArchive served = testing_update::ArchiveServed(archivePath_);
  EXPECT_TRUE(served.onlyRanges);
  EXPECT_GT(beforeClick.requests, 0u);
  EXPECT_EQ(beforeClick.requests, served.requests) << "the archive was asked for after the click";
  EXPECT_EQ(beforeClick.bytes, served.bytes);
}

TEST_F(PageView, ClosedDuringTheBackgroundFetchTheNextStartAsksForTheRest) {
  ASSERT_NO_FATAL_FAILURE(InstallVersion1());
  Publish(2, v2_, "v2.zip", "/rate", /*manifest=*/false);
  ASSERT_TRUE(WriteWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));
  const std::string part = run_ / "Temp\\ClientContent.part";
  CloseWhenFetched([&] { return FileBytes(part) >= archiveSize_ / 4; });
  const std::uint64_t kept = FileBytes(part);
  EXPECT_GE(kept, archiveSize_ / 4) << "what arrived was not kept";
  EXPECT_LT(kept, archiveSize_);

  WriteScript("window.external.IntoGame('next start');");
  ASSERT_TRUE(Run(kRunTimeoutMs));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ(2u, InstalledVersion()) << log;
  EXPECT_TRUE(testing_update::GameHolds(run_ / "Game", v2_));
  bool ranged = false;
  for (const auto& request : testing_update::ServedRequests(archivePath_))
    ranged = ranged || (request.first == 206 && request.second == static_cast<long long>(archiveSize_ - kept));
  EXPECT_TRUE(ranged) << "no 206 for the rest of the archive";
  EXPECT_TRUE(GameStartedWith("next start"));
}

TEST_F(PageView, ClosedDuringTheBackgroundRangesTheNextStartKeepsTheEntriesFetched) {
  ASSERT_NO_FATAL_FAILURE(InstallVersion1());
  Publish(2, v2_, "v2.zip", "/rate");
  const std::string fetched = run_ / "Temp\\Fetched";
  CloseWhenFetched([&] { return FilesBelow(fetched) >= 4; });  // manifest.sha256 and three entries

  WriteScript("window.external.IntoGame('next start');");
  ASSERT_TRUE(Run(kRunTimeoutMs));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ(2u, InstalledVersion()) << log;
  EXPECT_TRUE(testing_update::GameHolds(run_ / "Game", v2_));
  EXPECT_NE(std::string::npos, log.find(" entries fetched by an earlier run\n")) << log;
  EXPECT_TRUE(GameStartedWith("next start"));
}

TEST_F(PageView, AVersionFetchedAheadIsNeverInstalledAndIsTakenWhenItGoesLive) {
  const testing_update::Release next = Publish(2, v2_, "v2.zip", "/rate");
  const std::string nextArchive = archivePath_;
  const std::size_t nextSize = archiveSize_;
  ASSERT_NO_FATAL_FAILURE(InstallVersion1());  // version.cfg now names version 1 live
  std::string descriptor = ReadWholeFile(served_ / "version.cfg");
  std::string error;
  ASSERT_TRUE(pack::AppendNextRelease(next.descriptor, 1, &descriptor, &error)) << error;
  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", descriptor));
  ASSERT_TRUE(WriteWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));

  WriteScript(kAheadPage);
  ASSERT_TRUE(Run(kRunTimeoutMs));
  std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  const std::string record = GameRecord();
  EXPECT_NE(std::string::npos, record.find(" ahead state=current;installed=1;available=1;next=2;nextdone=")) << record;
  EXPECT_NE(std::string::npos, log.find("Fetched version 2 ahead\n")) << log;
  EXPECT_EQ(1u, InstalledVersion());
  EXPECT_TRUE(testing_update::GameHolds(run_ / "Game", v1_)) << "a version fetched ahead was installed";
  const testing_update::ServedArchive ahead = testing_update::ArchiveServed(nextArchive);
  EXPECT_GT(ahead.bytes, 0);

  // Version 2 goes live with the manifest it was fetched ahead by.
  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", next.descriptor));
  ASSERT_TRUE(::DeleteFileA((run_ / "Game\\launch.txt").c_str()));
  WriteScript("window.external.IntoGame('live');");
  ASSERT_TRUE(Run(kRunTimeoutMs));
  log = ReadWholeFile(run_ / "download.log");
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ(2u, InstalledVersion()) << log;
  EXPECT_TRUE(testing_update::GameHolds(run_ / "Game", v2_));
  EXPECT_NE(std::string::npos, log.find("Kept " + std::to_string(kFiles / 2) + " entries fetched ahead\n")) << log;
  const testing_update::ServedArchive live = testing_update::ArchiveServed(nextArchive, ahead.requests);
  std::printf("fetched ahead: %lld bytes; once live: %lld of the archive's %zu\n", ahead.bytes, live.bytes, nextSize);
  EXPECT_LE(live.bytes * 100, static_cast<long long>(nextSize)) << "more than 1 % fetched once live";
  EXPECT_FALSE(Exists(run_ / "Temp\\Next"));
  EXPECT_TRUE(GameStartedWith("live"));
}

}  // namespace
