// Whole runs of the update worker against loopback nginx and the fixture
// server: what it fetches, installs and records, the message boxes it shows
// (found, read and dismissed here), the stages it paints, the game it starts
// and whether it tells the main window to close.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "base/guards.h"
#include "base/progress_targets.h"
#include "base/thread.h"
#include "tests/support/volume_filler.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"
#include "update/install/commit.h"
#include "update/download_log_testing.h"
#include "update/install/staging.h"
#include "update/transfer/part_segments.h"
#include "update/update_worker.h"
#include "tests/support/small_volume.h"

namespace {

using namespace testing_update;

TEST_F(Worker, FirstRunInstallsRecordsAndStartsTheGame) {
  const std::string stub = ReadWholeFile(TEST_GAME_STUB);
  ASSERT_FALSE(stub.empty());
  const std::string archive = ServeZip("client.zip", {{"data/", "", 0x10}, {"data/a.pak", "pak", 0x20},
                                                      {"TLVR.exe", stub, 0x20}});
  const Observed seen = Run(Serve("version.cfg", Descriptor(1, archive)), "token=abc;server=1");

  EXPECT_TRUE(seen.closeRequested);
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_TRUE(ShownInOrder(kUpdateStages, seen.stages));
  EXPECT_EQ("pak", ReadWholeFile(Game() + "\\data\\a.pak"));
  EXPECT_EQ(1, InstalledVersion());
  EXPECT_EQ(kStarted, Log());
  const std::string launch = WaitForFile(Game() + "\\launch.txt", 10000);
  EXPECT_NE(std::string::npos, launch.find("TLVR.exe\" token=abc;server=1\n")) << launch;
  EXPECT_NE(std::string::npos, launch.find("\n" + Game() + "\n")) << launch;
  EXPECT_TRUE(Exists(At("Temp\\ClientContent")));  // the archive stays after the run
}

TEST_F(Worker, CurrentClientIsStartedWithoutFetchingTheArchive) {
  struct Case { const char* label; int installed; std::string descriptor; int recordAfter; };
  const std::string archivePath = served_.UrlPath("never-fetched.zip");
  const std::string archiveUrl = HttpUrl(archivePath);
  const std::vector<Case> cases = {
      {"equal", 3, Descriptor(3, archiveUrl), 3},
      {"installed higher", 5, Descriptor(3, archiveUrl), 5},
      {"descriptor is an HTML page", -1, "<html><body>Welcome</body></html>", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    if (c.installed >= 0) SetInstalled(c.installed);
    const Observed seen = Run(Serve("version.cfg", c.descriptor));
    EXPECT_TRUE(seen.closeRequested);
    EXPECT_TRUE(seen.boxes.empty());
    EXPECT_TRUE(ShownInOrder(kCurrentStages, seen.stages));
    EXPECT_EQ(c.recordAfter, InstalledVersion());
    EXPECT_EQ(kStarted, Log());
    EXPECT_FALSE(WaitForFile(Game() + "\\launch.txt", 10000).empty());
  }
  const std::string access = ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
  EXPECT_NE(std::string::npos, access.find(served_.UrlPath("version.cfg")));  // the log is the right one
  EXPECT_EQ(std::string::npos, access.find(archivePath));
}

struct FailureCase {
  const char* label;
  std::string directory;      // "" = the test's scratch directory
  std::string versionUrl;
  int installedBefore;        // -1 = no install.cfg
  bool withGame;
  std::string logPrefix;
  std::string logSuffix;
  std::vector<std::string> boxes;
  bool closeRequested;
};

TEST_F(Worker, EveryFailureLogsShowsAndClosesAsDesigned) {
  const std::string corrupt = served_ / "corrupt.zip";
  ASSERT_TRUE(WriteZip(corrupt, {{"ok.txt", "fine", 0}, {"bad.bin", std::string(3000, 'c'), 0, true}}));
  ASSERT_TRUE(CorruptAfter(corrupt, "bad.bin"));
  const std::string escaping = ServeZip("escaping.zip", {{"ok.txt", "fine", 0}, {"../outside.txt", "no", 0}});
  const std::string missingVersion = HttpUrl(served_.UrlPath("missing.cfg"));
  const std::string missingArchive = HttpUrl(served_.UrlPath("missing.zip"));

  const std::vector<FailureCase> cases = {
      {"Temp cannot be created", DANGLING_TEMP_DIR, Serve("v0.cfg", Descriptor(0, "")), -1, false,
       std::string("Failed to CreateDirectory(") + DANGLING_TEMP_DIR + "\\Temp), GetLastError=183\n", "", {kTempFailed}, true},
      {"version descriptor missing", "", missingVersion, -1, true, "<html>",
       "curl (" + missingVersion + "?", {kVersionFailed}, true},
      {"version server stalls", "", FixtureUrl("/stall"), -1, true, "curl (" + FixtureUrl("/stall") + "?",
       "CURLcode=Timeout was reached\n", {kVersionFailed}, true},
      {"Game cannot be created", DANGLING_GAME_DIR, Serve("v1.cfg", Descriptor(1, missingArchive)), -1, false,
       std::string("Failed to CreateDirectory(") + DANGLING_GAME_DIR + "\\Game)\n", "", {}, false},
      {"archive missing", "", Serve("v2.cfg", Descriptor(2, missingArchive)), 1, true, "<html>",
       "curl (" + missingArchive + "?", {kArchiveFailed}, true},
      {"archive corrupt", "", Serve("v3.cfg", Descriptor(3, HttpUrl(served_.UrlPath("corrupt.zip")))), 1, true,
       "Failed to extract bad.bin\nFailed to install game\n", "", {kInstallFailed}, true},
      {"archive reaching outside", "", Serve("v4.cfg", Descriptor(4, escaping)), 1, true,
       "Refused archive entry (../outside.txt)\nFailed to install game\n", "", {kInstallFailed}, true},
      {"game missing", "", Serve("v5.cfg", Descriptor(0, "")), -1, false, "Failed to start game. error=(2)\n", "", {}, true},
  };
  limits_.connectTimeoutSeconds = 2;
  limits_.lowSpeedSeconds = 2;
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(c.directory.empty() ? dir.Path() : c.directory);
    if (c.withGame) PlaceGame();
    if (c.installedBefore >= 0) SetInstalled(c.installedBefore);
    const Observed seen = Run(c.versionUrl);
    const std::string log = Log();
    EXPECT_EQ(0u, log.rfind(c.logPrefix, 0)) << log;
    if (c.logSuffix.empty()) {
      EXPECT_EQ(c.logPrefix, log);
    } else {
      EXPECT_NE(std::string::npos, log.find(c.logSuffix)) << log;
    }
    EXPECT_EQ(c.boxes, seen.boxes);
    EXPECT_EQ(c.closeRequested, seen.closeRequested);
    EXPECT_EQ(c.installedBefore, InstalledVersion());  // never recorded after a failure
    EXPECT_FALSE(Exists(At("outside.txt")));
    if (!c.directory.empty()) {  // a fixed directory of the build tree: leave it as found
      RemoveTree(At("Temp"));
      ::DeleteFileA(At("download.log").c_str());
    }
  }
}

TEST_F(Worker, VersionRecordThatCannotBeWrittenIsLoggedAndTheGameStillStarts) {
  // Ways a record cannot be written whatever the user's rights (these tests
  // may run as root, for whom a read-only attribute forbids nothing).
  enum class Block { kHeldWithoutWriteSharing, kFolderInItsPlace };
  const struct { const char* label; Block block; } cases[] = {
      {"held open by another program", Block::kHeldWithoutWriteSharing},
      {"a folder named install.cfg", Block::kFolderInItsPlace},
  };
  const std::string archive = ServeZip("ro.zip", {{"data/new.pak", "new", 0x20}});
  const std::string descriptor = Serve("v-ro.cfg", Descriptor(2, archive));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    const std::string record = At("install.cfg");
    base::UniqueHandle holder;
    if (c.block == Block::kHeldWithoutWriteSharing) {
      SetInstalled(1);
      holder.Reset(::CreateFileA(record.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
      ASSERT_TRUE(holder.Valid());
    } else {
      ASSERT_TRUE(::CreateDirectoryA(record.c_str(), nullptr));
    }
    const int before = InstalledVersion();
    const Observed seen = Run(descriptor);
    holder.Reset();

    EXPECT_TRUE(seen.closeRequested);
    EXPECT_TRUE(seen.boxes.empty());  // the client is complete: nothing for the player to do
    EXPECT_EQ("new", ReadWholeFile(Game() + "\\data\\new.pak"));
    EXPECT_EQ(before, InstalledVersion());
    const std::string log = Log();
    EXPECT_EQ(0u, log.rfind("Failed to write version 2 to " + record + ", GetLastError=", 0)) << log;
    EXPECT_NE(std::string::npos, log.find(std::string("\n") + kStarted)) << log;
    EXPECT_FALSE(WaitForFile(Game() + "\\launch.txt", 10000).empty());
    // The journal stays: once the record can be written, the next start
    // records the version before it checks for an update.
    EXPECT_TRUE(Exists(At("Temp\\commit.journal")));
    if (c.block == Block::kHeldWithoutWriteSharing) {
      update::ResetDownloadLogForTesting();
      EXPECT_TRUE(Run(descriptor).boxes.empty());
      EXPECT_EQ(2, InstalledVersion());
      EXPECT_NE(std::string::npos, Log().find("Finished interrupted commit of version 2\n")) << Log();
    }
  }
}

TEST_F(Worker, DirectoryTooDeepForItsPathsFailsLikeTheStepThatNeededIt) {
  // The current directory leaves room for "\Temp" but not for "\Temp\version.cfg".
  std::string deep = cwd_.Path();
  while (deep.size() < 248) {
    deep += "\\" + std::string(std::min<size_t>(30, 248 - deep.size() - 1), 'd');
    ASSERT_TRUE(::CreateDirectoryA(deep.c_str(), nullptr)) << deep;
  }
  UseDirectory(deep);
  const Observed seen = Run(Serve("v.cfg", Descriptor(0, "")));
  EXPECT_EQ(std::vector<std::string>{kVersionFailed}, seen.boxes);
  EXPECT_TRUE(seen.closeRequested);
  // "<deep>\download.log" does not fit either: the log stays off, nothing is cut.
  EXPECT_FALSE(Exists(At("download.log")));
  EXPECT_TRUE(IsDirectory(At("Temp")));
}

TEST_F(Worker, StartedOncePerProcessWithTheLatestParameters) {
  PlaceGame();
  // The descriptor arrives late, so that later calls come while the worker runs.
  const std::string slowVersion = FixtureUrl("/delay?ms=1500&body=%5BLauncher%5D%0D%0AVersion%3D0%0D%0A");
  update::WorkerSetup setup;
  setup.mainWindow = main_;
  setup.versionCdnUrl = slowVersion.c_str();
  setup.progress = &targets_;
  setup.progressWindow = bar_;
  update::ConfigureUpdateWorker(setup);
  Observed observed;
  g_observed = &observed;
  update::StartUpdateWorker("first");
  update::StartUpdateWorker("second");
  update::StartUpdateWorker("latest=1");
  Pump(&observed, nullptr, [&] { return observed.closeRequested; });
  EXPECT_TRUE(observed.closeRequested);
  const std::string launch = WaitForFile(Game() + "\\launch.txt", 10000);
  EXPECT_NE(std::string::npos, launch.find("TLVR.exe\" latest=1\n")) << launch;

  ASSERT_TRUE(::DeleteFileA((Game() + "\\launch.txt").c_str()));
  update::StartUpdateWorker("again");  // the worker has run: nothing more starts
  ::Sleep(2500);
  EXPECT_FALSE(Exists(Game() + "\\launch.txt"));
  g_observed = nullptr;
}

// ---- staged installation, recovery and retries in whole runs --------------


class StagedWorker : public Worker {
 protected:
  std::string Journal() const { return At("Temp\\commit.journal"); }
  std::string Staging() const { return At("Temp\\Staging"); }
  // What a run killed during its commit leaves: the archive staged, the
  // journal for `version` written, the first `moved` files in Game.
  void LeaveInterruptedCommit(std::int32_t version, const std::vector<ZipEntry>& entries, std::size_t moved) {
    ::CreateDirectoryA(At("Temp").c_str(), nullptr);
    const std::string archive = At("Temp\\ClientContent");
    ASSERT_TRUE(WriteZip(archive, entries));
    update::JournalRecord plan;
    plan.version = version;
    const std::string game = Game(), staging = Staging();
    ASSERT_EQ(update::StageResult::Staged, update::StageArchive(archive.c_str(), game.c_str(), staging.c_str(), &plan));
    ASSERT_TRUE(update::WriteJournalFile(Journal().c_str(), plan));
    for (std::size_t i = 0; i < moved; ++i)
      ASSERT_TRUE(::MoveFileExA((staging + "\\" + update::StagedFileName(plan.entries[i].staged)).c_str(),
                                (game + "\\" + plan.entries[i].name).c_str(), MOVEFILE_REPLACE_EXISTING));
  }
  bool Requested(const std::string& urlPath) const {
    return ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN")).find(urlPath) != std::string::npos;
  }
  std::string FlakyArchive(const std::string& zipName, int fails) {
    const std::string key = "w" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(++flakyKeys_);
    return FixtureUrl("/flaky?mode=drop&fails=" + std::to_string(fails) + "&key=" + key + "&file=" +
                      ServerEnv("LAUNCHER_DOCROOT") + "/" + served_.Name() + "/" + zipName + "&tick=");  // the tick query lands here
  }
  int flakyKeys_ = 0;
  std::size_t archiveBytes_ = 0;
};

const std::vector<ZipEntry> kNewClient = {{"a.txt", "new a", 0}, {"data/b.pak", "new b", 0}, {"c.txt", "new c", 0}};

TEST_F(StagedWorker, InterruptedCommitIsFinishedAndRecordedBeforeTheVersionCheck) {
  PlaceGame();
  SetInstalled(1);
  ASSERT_TRUE(WriteWholeFile(Game() + "\\a.txt", "old a"));
  ::CreateDirectoryA((Game() + "\\data").c_str(), nullptr);
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\b.pak", "old b"));
  LeaveInterruptedCommit(2, kNewClient, 1);
  const std::string neverFetched = served_.UrlPath("never.zip");
  const Observed seen = Run(Serve("version.cfg", Descriptor(2, HttpUrl(neverFetched))));

  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_TRUE(seen.closeRequested);
  EXPECT_TRUE(ShownInOrder(kCurrentStages, seen.stages));  // recorded first, so the client is current
  EXPECT_EQ(2, InstalledVersion());
  EXPECT_EQ("new a", ReadWholeFile(Game() + "\\a.txt"));
  EXPECT_EQ("new b", ReadWholeFile(Game() + "\\data\\b.pak"));
  EXPECT_EQ("new c", ReadWholeFile(Game() + "\\c.txt"));
  EXPECT_EQ(std::string("Finished interrupted commit of version 2\n") + kStarted, Log());
  EXPECT_FALSE(Exists(Journal()));
  EXPECT_FALSE(Exists(Staging()));
  EXPECT_FALSE(Requested(neverFetched));
}

TEST_F(StagedWorker, TargetHeldAtStartStopsWithTheInstallBoxUntilReleased) {
  PlaceGame();
  SetInstalled(1);
  ASSERT_TRUE(WriteWholeFile(Game() + "\\c.txt", "old c"));
  LeaveInterruptedCommit(2, kNewClient, 0);
  FileHeldElsewhere holder(TEST_FILE_HOLDER, Game() + "\\c.txt", At("held.ready"));
  ASSERT_TRUE(holder.Holding());

  const std::string versionUrl = Serve("version.cfg", Descriptor(2, HttpUrl(served_.UrlPath("never.zip"))));
  Observed seen = Run(versionUrl);
  EXPECT_EQ(std::vector<std::string>{kInstallFailed}, seen.boxes);
  EXPECT_TRUE(seen.closeRequested);
  const std::string log = Log();
  EXPECT_EQ(0u, log.find("Failed to replace " + Game() + "/c.txt, GetLastError=")) << log;
  EXPECT_EQ(log.size() - std::strlen("Failed to install game\n"), log.find("Failed to install game\n")) << log;
  EXPECT_EQ(1, InstalledVersion());
  EXPECT_TRUE(Exists(Journal()));
  EXPECT_FALSE(Requested(served_.UrlPath("version.cfg")));  // stopped before the version check

  holder.Release();
  update::ResetDownloadLogForTesting();
  seen = Run(versionUrl);
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_EQ(2, InstalledVersion());
  EXPECT_EQ("new c", ReadWholeFile(Game() + "\\c.txt"));
  EXPECT_FALSE(Exists(Journal()));
}

TEST_F(StagedWorker, DiskTooSmallShowsTheSpaceBoxAndLeavesGameAlone) {
  LAUNCHER_SMALL_VOLUME_OR_SKIP(small);
  ScratchDir onSmall(small);
  UseDirectory(onSmall.Path());
  PlaceGame();
  SetInstalled(1);
  ASSERT_TRUE(WriteWholeFile(Game() + "\\a.txt", "old a"));
  const std::string archive = ServeZip("big.zip", {{"a.txt", "new a", 0}, {"big.bin", std::string(60u << 20, '\0'), 0}});
  const Observed seen = Run(Serve("version.cfg", Descriptor(2, archive)));

  EXPECT_EQ(std::vector<std::string>{kNoSpace}, seen.boxes);
  EXPECT_TRUE(seen.closeRequested);
  const std::string log = Log();
  EXPECT_EQ(0u, log.find("Not enough disk space: 79695872 bytes needed, ")) << log;
  EXPECT_NE(std::string::npos, log.find(" free\nFailed to install game\n")) << log;
  EXPECT_EQ("old a", ReadWholeFile(Game() + "\\a.txt"));
  EXPECT_EQ(1, InstalledVersion());
  EXPECT_FALSE(Exists(Staging()));
}

// Without a manifest the descriptor's Size is what a run knows of the
// archive before the download: an archive that does not fit beside the
// staging margin is never asked for, and a smaller one installs.
TEST_F(StagedWorker, AnArchiveLargerThanTheRoomIsNeverRequested) {
  LAUNCHER_SMALL_VOLUME_OR_SKIP(small);
  ScratchDir onSmall(small);
  UseDirectory(onSmall.Path());
  PlaceGame();
  SetInstalled(1);
  ASSERT_TRUE(WriteWholeFile(Game() + "\\a.txt", "old a"));
  auto publish = [&](const std::string& name, std::size_t noise) {
    // Stored noise: the archive is as large as its data.
    EXPECT_TRUE(WriteZip(served_ / name, {{"a.txt", "new a"}, {"big.bin", Noise(noise, 3), 0x20, true}}));
    const std::string bytes = ReadWholeFile(served_ / name);
    archiveBytes_ = bytes.size();
    return Serve("v-" + name + ".cfg", Descriptor(2, HttpUrl(served_.UrlPath(name))) + "Sha256=" + Sha256Hex(bytes) +
                                    "\r\nSize=" + std::to_string(bytes.size()) + "\r\n");
  };

  const Observed refused = Run(publish("big.zip", 36u << 20));
  EXPECT_EQ(std::vector<std::string>{kNoSpace}, refused.boxes);
  EXPECT_TRUE(refused.closeRequested);
  const std::string log = Log();
  const std::string needed = std::to_string(archiveBytes_ + (16u << 20));
  EXPECT_EQ(0u, log.find("Not enough disk space on " + std::string(small) + "\\: " + needed + " bytes needed, ")) << log;
  EXPECT_EQ(log.size() - std::strlen(" free\n"), log.find(" free\n")) << log;
  EXPECT_TRUE(ServedRequests(served_.UrlPath("big.zip")).empty());
  EXPECT_FALSE(Exists(At("Temp\\ClientContent.part")));
  EXPECT_EQ("old a", ReadWholeFile(Game() + "\\a.txt"));
  EXPECT_EQ(1, InstalledVersion());

  update::ResetDownloadLogForTesting();
  const Observed installed = Run(publish("smaller.zip", 8u << 20));
  EXPECT_TRUE(installed.boxes.empty()) << Log();
  EXPECT_EQ(2, InstalledVersion()) << Log();
  EXPECT_EQ("new a", ReadWholeFile(Game() + "\\a.txt"));
}

// Another program fills the volume while the archive streams in (the
// transfer is capped so that it is still running then): the write that fails
// ends the run with the space box, not the download's, and the part waits for
// a run with room, which goes on from it. In one stream the part's size is
// what arrived; in segments, its record says which bytes did.
class VolumeFillingWorker : public StagedWorker {
 protected:
  void FillTheVolumeDuringTheDownload(std::int32_t connections) {
    LAUNCHER_SMALL_VOLUME_OR_SKIP(small);
    ScratchDir onSmall(small);
    UseDirectory(onSmall.Path());
    PlaceGame();
    SetInstalled(1);
    ASSERT_TRUE(WriteWholeFile(Game() + "\\a.txt", "old a"));
    ASSERT_TRUE(WriteZip(served_ / "client.zip", {{"a.txt", "new a"}, {"big.bin", Noise(12u << 20, 4), 0x20, true}}));
    const std::string bytes = ReadWholeFile(served_ / "client.zip");
    const std::string versionUrl =
        Serve("v-client.cfg", Descriptor(2, HttpUrl(served_.UrlPath("client.zip"))) + "Sha256=" + Sha256Hex(bytes) +
                                  "\r\nSize=" + std::to_string(bytes.size()) + "\r\n");
    const std::string part = At("Temp\\ClientContent.part");
    const std::string filler = onSmall / "filler.bin";
    limits_.connections = connections;
    limits_.maxReceiveBytesPerSecond = 4 << 20;
    // Four segments of 3 MiB: the part passes 11 MiB once the last has 2 MiB,
    // about two seconds in, after the record has named what arrived at least once.
    testing_files::VolumeFiller filling(part, connections > 1 ? 11u << 20 : 1u << 20, filler);
    const Observed full = Run(versionUrl);
    filling.Join();
    EXPECT_EQ(std::vector<std::string>{kNoSpace}, full.boxes);
    // The log is on the full volume too: its lines are checked where it is not
    // (Staged.TransferThatFindsTheVolumeFullSaysSoAndKeepsWhatArrived).
    std::uint64_t kept = ReadWholeFile(part).size();
    if (connections > 1) {
      const std::string record = ReadWholeFile(At("Temp\\ClientContent.part.sha256"));
      update::Sha256Digest digest;
      ASSERT_TRUE(update::ParseSha256Hex(Sha256Hex(bytes).c_str(), &digest));
      update::ByteSpans done;
      ASSERT_EQ(update::PartRecordKind::Segments,
                update::ParseSegmentRecord(record.data(), record.size(), digest, bytes.size(), &done))
          << record;
      kept = update::SpanBytes(done);
      EXPECT_GT(kept, 0u);
    } else {
      EXPECT_GT(kept, 1u << 20);
    }
    EXPECT_LT(kept, bytes.size());
    EXPECT_EQ("old a", ReadWholeFile(Game() + "\\a.txt"));
    EXPECT_EQ(1, InstalledVersion());

    ASSERT_TRUE(::DeleteFileA(filler.c_str()));
    limits_.maxReceiveBytesPerSecond = 0;
    update::ResetDownloadLogForTesting();
    const Observed resumed = Run(versionUrl);
    EXPECT_TRUE(resumed.boxes.empty()) << Log();
    EXPECT_EQ(0u, Log().find("Resuming (")) << Log();
    EXPECT_NE(std::string::npos, Log().find(" at " + std::to_string(kept) + " of ")) << Log();
    EXPECT_EQ(2, InstalledVersion()) << Log();
    EXPECT_EQ("new a", ReadWholeFile(Game() + "\\a.txt"));
  }
};

TEST_F(VolumeFillingWorker, AVolumeThatFillsDuringTheDownloadShowsTheSpaceBoxAndKeepsThePart) {
  FillTheVolumeDuringTheDownload(1);
}

TEST_F(VolumeFillingWorker, AVolumeThatFillsDuringASegmentedDownloadShowsTheSpaceBoxAndKeepsWhatArrived) {
  FillTheVolumeDuringTheDownload(4);
}

TEST_F(StagedWorker, DroppedArchiveTransferIsRetriedAndAServerThatKeepsFailingEndsAsBefore) {
  PlaceGame();
  ASSERT_TRUE(WriteZip(served_ / "client.zip", kNewClient));
  Observed seen = Run(Serve("v1.cfg", Descriptor(1, FlakyArchive("client.zip", 2))));
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_EQ(1, InstalledVersion());
  EXPECT_EQ("new c", ReadWholeFile(Game() + "\\c.txt"));
  std::string log = Log();
  EXPECT_NE(std::string::npos, log.find(", retry 2 of 3\n")) << log;
  EXPECT_EQ(log.size() - std::strlen(kStarted), log.rfind(kStarted)) << log;

  update::ResetDownloadLogForTesting();
  seen = Run(Serve("v2.cfg", Descriptor(2, FlakyArchive("client.zip", 99))));
  EXPECT_EQ(std::vector<std::string>{kArchiveFailed}, seen.boxes);
  EXPECT_TRUE(seen.closeRequested);
  log = Log();
  EXPECT_NE(std::string::npos, log.find(", retry 3 of 3\n")) << log;
  const std::string last = "CURLcode=Transferred a partial file\n";
  EXPECT_EQ(log.size() - last.size(), log.rfind(last)) << log;
  EXPECT_EQ(1, InstalledVersion());
}

}  // namespace
