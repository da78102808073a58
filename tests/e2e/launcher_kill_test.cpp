// The launcher killed at random moments of an update (while the archive
// downloads, while it is staged, while the commit moves files into Game) and
// then run again to the end. After every kill each file in Game is its old or
// its new content, never a mix, and install.cfg names the new version only
// when all of Game is new; after the run to the end Game is exactly the new
// client. The client has thousands of files and tens of MB, served slowly by
// nginx so that every phase lasts long enough to be hit.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "launcher_process.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "update/transfer/part_segments.h"
#include "update/trust/archive_digest.h"

namespace {

using testing_update::Exists;
using testing_update::ReadWholeFile;
using testing_update::WriteWholeFile;

constexpr std::uint32_t kSeed = 20261207;
constexpr int kRounds = 7;
constexpr int kFiles = 2500;           // in both versions
constexpr int kNewOnlyFiles = 100;     // only in the new one
constexpr std::size_t kFileSize = 8192;
const char* const kSkinFiles[] = {"bg.png",      "min_n.png", "min_h.png", "close_n.png",
                                  "close_h.png", "progress_bg.png", "bar1.png", "bar2.png",
                                  "launcher.ico"};

std::string Bytes(std::mt19937* rng, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& b : bytes) b = static_cast<char>((*rng)() & 0xFF);
  return bytes;
}

std::string NameOf(int i) { return "pack" + std::to_string(i % 40) + "\\file" + std::to_string(i) + ".dat"; }

using Content = std::map<std::string, std::string>;  // path below Game -> bytes

Content GameFiles(const std::string& game) {
  Content files;
  testing_files::VisitTree(game, [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) files[relative] = ReadWholeFile(game + "\\" + relative);
  });
  // What the started stub game writes: its record, and the file it writes
  // the record into first (seen here when the game is caught mid-write).
  files.erase("launch.txt");
  files.erase("launch.tmp");
  return files;
}

class KilledUpdate : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(::CopyFileA(LAUNCHER_SCRIPTED_EXE, (run_ / "LauncherScripted.exe").c_str(), FALSE));
    ASSERT_TRUE(::CreateDirectoryA((run_ / "Data").c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA((run_ / "Data\\skin").c_str(), nullptr));
    for (const char* file : kSkinFiles)
      ASSERT_TRUE(::CopyFileA((std::string(E2E_SKIN_DIR) + "\\" + file).c_str(),
                              (run_ / ("Data\\skin\\" + std::string(file))).c_str(), FALSE));
    std::string base = testing_update::HttpUrl(served_.UrlPath(""));
    base.pop_back();
    std::string config = ReadWholeFile(E2E_CONFIG_TEMPLATE);
    const std::string marker = "@BASE_URL@";
    for (std::size_t at; (at = config.find(marker)) != std::string::npos;) config.replace(at, marker.size(), base);
    config_ = config;
    ASSERT_TRUE(WriteWholeFile(run_ / "Data\\Config.cfg", config));
    ASSERT_TRUE(WriteWholeFile(run_ / "page.js", "window.external.IntoGame('killed');"));

    std::mt19937 rng(kSeed);
    const std::string game = ReadWholeFile(TEST_GAME_STUB);
    ASSERT_FALSE(game.empty());
    old_["TLVR.exe"] = game;
    new_["TLVR.exe"] = game;
    std::vector<testing_update::ZipEntry> entries = {{"TLVR.exe", game, 0x20, true}};
    for (int i = 0; i < kFiles + kNewOnlyFiles; ++i) {
      if (i < kFiles) old_[NameOf(i)] = Bytes(&rng, kFileSize - 100 + rng() % 200);
      new_[NameOf(i)] = Bytes(&rng, kFileSize - 100 + rng() % 200);
      std::string name = NameOf(i);
      for (char& c : name) if (c == '\\') c = '/';
      entries.push_back({name, new_[NameOf(i)], 0x20, true});  // stored: tens of MB on the wire
    }
    ASSERT_TRUE(testing_update::WriteZip(served_ / "ClientContent", entries));
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg",
                               "[Launcher]\r\nVersion=2\r\nUrl=" +
                                   testing_update::HttpUrl("/slow" + served_.UrlPath("ClientContent")) + "\r\n"));
  }

  // A game the last run started must not outlive the test.
  void TearDown() override { testing_update::EndProcessesBelow(Game(), 2000); }

  std::string Game() const { return run_ / "Game"; }
  int Installed() const {
    return static_cast<int>(::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str()));
  }

  void PlantOldClient() {
    testing_update::EndProcessesBelow(Game(), 2000);
    testing_update::RemoveTree(Game());
    testing_update::RemoveTree(run_ / "Temp");
    ASSERT_TRUE(::CreateDirectoryA(Game().c_str(), nullptr));
    for (int p = 0; p < 40; ++p) ::CreateDirectoryA((Game() + "\\pack" + std::to_string(p)).c_str(), nullptr);
    for (const auto& file : old_) ASSERT_TRUE(WriteWholeFile(Game() + "\\" + file.first, file.second));
    ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "Version", "1", (run_ / "install.cfg").c_str()));
  }

  // Every file is old or new; install.cfg says 2 only over a wholly new Game.
  void ExpectOldOrNew(const std::string& when) {
    const Content now = GameFiles(Game());
    bool allNew = true;
    for (const auto& file : now) {
      const auto n = new_.find(file.first);
      ASSERT_NE(new_.end(), n) << when << ": a file of neither version: " << file.first;
      const auto o = old_.find(file.first);
      const bool isNew = file.second == n->second;
      const bool isOld = o != old_.end() && file.second == o->second;
      ASSERT_TRUE(isNew || isOld) << when << ": " << file.first << " is neither old nor new (" << file.second.size()
                                  << " bytes)";
      allNew = allNew && isNew;
    }
    for (const auto& file : old_) ASSERT_TRUE(now.count(file.first)) << when << ": lost " << file.first;
    allNew = allNew && now.size() == new_.size();
    if (Installed() == 2) {
      EXPECT_TRUE(allNew) << when << ": version 2 recorded over a Game not wholly new";
    }
  }

  // Data\Config.cfg with `extra` (whole sections) after the template's own.
  void WriteConfig(const std::string& extra) {
    ASSERT_TRUE(WriteWholeFile(run_ / "Data\\Config.cfg", config_ + extra));
  }

  testing_update::ScratchDir run_;
  testing_update::ServedDir served_;
  std::string config_;
  Content old_;
  Content new_;
};

TEST_F(KilledUpdate, GameIsOldOrNewAfterEveryKillAndNewAfterTheRunToTheEnd) {
  std::mt19937 rng(kSeed);
  const auto start = std::chrono::steady_clock::now();
  const char* const kPhases[] = {"download", "staging", "commit"};
  const char* const kMarkers[] = {"Temp\\ClientContent", "Temp\\Staging", "Temp\\commit.journal"};
  const int kMaxDelayMs[] = {2500, 1500, 400};
  int kills = 0, killsBy[3] = {0, 0, 0};
  for (int round = 0; round < kRounds; ++round) {
    PlantOldClient();
    // One to three kills, each in a phase and at a moment the seed chooses.
    const int killsThisRound = 1 + static_cast<int>(rng() % 3);
    for (int k = 0; k < killsThisRound; ++k) {
      const int phase = static_cast<int>(rng() % 3);
      const int delayMs = static_cast<int>(rng() % kMaxDelayMs[phase]);
      const std::string when = "round " + std::to_string(round) + ", kill " + std::to_string(k) + " during " +
                               kPhases[phase] + " +" + std::to_string(delayMs) + " ms";
      SCOPED_TRACE(when);
      e2e::LauncherProcess launcher;
      ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
      const ULONGLONG deadline = ::GetTickCount64() + 60000;
      bool reached = false;
      while (::GetTickCount64() < deadline && !(reached = Exists(run_ / kMarkers[phase]))) {
        if (launcher.WaitForExit(2)) break;  // finished (or failed) before that phase
      }
      if (reached) {
        ::Sleep(static_cast<DWORD>(delayMs));
        launcher.Kill();
        ++kills;
        ++killsBy[phase];
      } else {
        launcher.Kill();
      }
      ExpectOldOrNew(when);
      if (HasFatalFailure()) return;
    }
    // The run to the end finishes what the kills interrupted.
    e2e::LauncherProcess launcher;
    ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
    ASSERT_TRUE(launcher.WaitForExit(120000)) << "round " << round;
    EXPECT_EQ(0u, launcher.ExitCode());
    EXPECT_TRUE(launcher.Boxes().empty()) << ReadWholeFile(run_ / "download.log");
    EXPECT_EQ(2, Installed()) << "round " << round << ": " << ReadWholeFile(run_ / "download.log");
    EXPECT_TRUE(new_ == GameFiles(Game())) << "round " << round << ": Game is not exactly the new client";
    EXPECT_FALSE(Exists(run_ / "Temp\\commit.journal"));
    EXPECT_FALSE(Exists(run_ / "Temp\\Staging"));
    for (int i = 0; i < 300 && !Exists(Game() + "\\launch.txt"); ++i) ::Sleep(50);  // the stub game ends
    if (HasFailure()) return;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("kill test: seed %u, %d rounds, %d kills (download %d, staging %d, commit %d), %.0f s\n", kSeed, kRounds,
              kills, killsBy[0], killsBy[1], killsBy[2], seconds);
}


// nginx writes a request's access-log line only when the request ends, and the
// killed run's request ends when nginx next finds its connection gone, which
// may be after the re-run's request. So the lines are awaited and taken in
// either order.
std::vector<std::pair<int, long long>> AwaitServed(const std::string& urlPath, std::size_t count) {
  std::vector<std::pair<int, long long>> served = testing_update::ServedRequests(urlPath);
  for (const ULONGLONG deadline = ::GetTickCount64() + 90000; served.size() < count && ::GetTickCount64() < deadline;) {
    ::Sleep(200);
    served = testing_update::ServedRequests(urlPath);
  }
  return served;
}

long long BytesServedWith(const std::vector<std::pair<int, long long>>& served, int status) {
  for (const auto& request : served) {
    if (request.first == status) return request.second;
  }
  return -1;
}

std::uint64_t FileBytes(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// One connection: the part is written in order, so its size is what arrived.
TEST_F(KilledUpdate, DownloadKilledHalfWayIsContinuedByTheNextRun) {
  const std::string archive = ReadWholeFile(served_ / "ClientContent");
  const std::string hex = testing_update::Sha256Hex(archive);
  const std::string url = testing_update::HttpUrl("/slow" + served_.UrlPath("ClientContent"));
  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", "[Launcher]\r\nVersion=2\r\nUrl=" + url + "\r\nSha256=" +
                                                          hex + "\r\nSize=" + std::to_string(archive.size()) + "\r\n"));
  WriteConfig("\r\n[Download]\r\nConnections=1\r\n");
  PlantOldClient();
  ASSERT_TRUE(WriteWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));  // nginx appends
  std::uint64_t keptBytes = 0;  // what the killed run left in the .part

  {
    e2e::LauncherProcess launcher;
    ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
    const std::string part = run_ / "Temp\\ClientContent.part";
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (::GetTickCount64() < deadline && FileBytes(part) < archive.size() / 3 && !launcher.WaitForExit(20)) {
    }
    launcher.Kill();
    keptBytes = FileBytes(part);
    ASSERT_GE(keptBytes, archive.size() / 3) << "the download was not under way";
    ASSERT_LT(keptBytes, archive.size());
  }
  e2e::LauncherProcess launcher;
  ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
  ASSERT_TRUE(launcher.WaitForExit(120000));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(2, Installed()) << log;
  EXPECT_TRUE(new_ == GameFiles(Game()));
  EXPECT_NE(std::string::npos, log.find(") at " + std::to_string(keptBytes) + " of " + std::to_string(archive.size()) + " bytes")) << log;

  const std::vector<std::pair<int, long long>> served = AwaitServed("/slow" + served_.UrlPath("ClientContent"), 2);
  ASSERT_EQ(2u, served.size()) << ReadWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
  const long long whole = BytesServedWith(served, 200);
  const long long rest = BytesServedWith(served, 206);
  ASSERT_GT(whole, 0) << "the killed run's request";
  ASSERT_GT(rest, 0) << "the re-run's range request";
  // The re-run asks for exactly what the killed run did not keep. What nginx
  // sent the killed run beyond that sat in its socket buffers (up to tcp_rmem's
  // maximum) and is all that is sent twice.
  EXPECT_EQ(static_cast<long long>(archive.size() - keptBytes), rest);
  EXPECT_GE(whole, static_cast<long long>(keptBytes));
  const long long total = whole + rest;
  EXPECT_LT(total, static_cast<long long>(archive.size()) * 3 / 2) << "about one archive, not two";
  std::printf("resume after a kill: archive %zu bytes, served %lld + %lld = %lld bytes\n", archive.size(),
              whole, rest, total);
  for (int i = 0; i < 300 && !Exists(Game() + "\\launch.txt"); ++i) ::Sleep(50);  // the stub game ends
}

// Seconds since 1970 on the system clock, as nginx logs its times.
double UnixSeconds() {
  FILETIME now;
  ::GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(ticks) / 1e7 - 11644473600.0;
}

// Four connections (the default): segments write into the part at their own
// offsets, and only the record says what arrived. Killed half-way, the part
// holds every byte its record names, and the next run asks for exactly the
// bytes the record lacks.
TEST_F(KilledUpdate, DownloadInSegmentsKilledHalfWayIsContinuedWithWhatItsRecordLacks) {
  const std::string archive = ReadWholeFile(served_ / "ClientContent");
  const std::string hex = testing_update::Sha256Hex(archive);
  const std::string path = "/rate" + served_.UrlPath("ClientContent");  // 2 MB/s a connection
  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", "[Launcher]\r\nVersion=2\r\nUrl=" +
                                                          testing_update::HttpUrl(path) + "\r\nSha256=" + hex +
                                                          "\r\nSize=" + std::to_string(archive.size()) + "\r\n"));
  update::Sha256Digest digest;
  ASSERT_TRUE(update::ParseSha256Hex(hex.c_str(), &digest));
  PlantOldClient();
  const std::string record = run_ / "Temp\\ClientContent.part.sha256";
  auto recorded = [&] {
    const std::string text = ReadWholeFile(record);
    update::ByteSpans done;
    if (update::ParseSegmentRecord(text.data(), text.size(), digest, archive.size(), &done) !=
        update::PartRecordKind::Segments)
      done.clear();
    return done;
  };
  update::ByteSpans kept;
  double killedAt = 0;
  {
    e2e::LauncherProcess launcher;
    ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    while (::GetTickCount64() < deadline && update::SpanBytes(recorded()) < archive.size() / 3 &&
           !launcher.WaitForExit(20)) {
    }
    launcher.Kill();
    killedAt = UnixSeconds();
    kept = recorded();
  }
  const std::uint64_t keptBytes = update::SpanBytes(kept);
  ASSERT_GE(keptBytes, archive.size() / 3) << "the download was not under way";
  ASSERT_LT(keptBytes, archive.size());
  EXPECT_GT(kept.size(), 1u) << "the segments ran side by side";
  const std::string part = ReadWholeFile(run_ / "Temp\\ClientContent.part");
  for (const update::ByteSpan& span : kept) {
    ASSERT_LE(span.end, part.size());
    EXPECT_TRUE(archive.compare(span.begin, span.end - span.begin, part, span.begin, span.end - span.begin) == 0)
        << "the record names bytes the part does not hold: " << span.begin << "-" << span.end;
  }

  e2e::LauncherProcess launcher;
  ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
  ASSERT_TRUE(launcher.WaitForExit(120000));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(2, Installed()) << log;
  EXPECT_TRUE(new_ == GameFiles(Game()));
  EXPECT_NE(std::string::npos, log.find(") at " + std::to_string(keptBytes) + " of " + std::to_string(archive.size()) +
                                        " bytes")) << log;
  // The killed run's requests began before the kill (nginx logs them when it
  // finds their connections gone); the re-run's after it.
  long long rest = 0;
  for (const testing_update::ServedRequest& r : testing_update::ServedRequestsWithConnections(path)) {
    if (r.began <= killedAt) continue;
    EXPECT_EQ(206, r.status);
    rest += r.bytes;
  }
  EXPECT_EQ(static_cast<long long>(archive.size() - keptBytes), rest);
  std::printf("segments killed: archive %zu bytes, %llu kept in %zu spans, %lld asked for again\n", archive.size(),
              static_cast<unsigned long long>(keptBytes), kept.size(), rest);
  for (int i = 0; i < 300 && !Exists(Game() + "\\launch.txt"); ++i) ::Sleep(50);  // the stub game ends
}

// An update by manifest killed while its ranges arrive and while its commit
// moves files and removes the dropped ones. The old client is the one the
// launcher would have kept: its files, install.manifest and its binding in
// install.cfg. After every kill each file is old, new or, for a file the new
// version dropped, old or gone; the run to the end leaves exactly the new
// client, and entries fetched and checked before a kill are not fetched again.
class KilledManifestUpdate : public KilledUpdate {
 protected:
  void SetUp() override {
    KilledUpdate::SetUp();
    if (HasFatalFailure()) return;
    std::mt19937 rng(kSeed + 1);
    oldTree_["TLVR.exe"] = old_["TLVR.exe"];
    for (int p = 0; p < 40; ++p) oldTree_["pack" + std::to_string(p)] = "/";
    newTree_ = oldTree_;
    for (int i = 0; i < kFiles; ++i) {
      oldTree_[NameOf(i)] = old_[NameOf(i)];
      if (i % 25 == 7) continue;  // 100 files the new version no longer has
      // A run of neighbours changed: one range of about a quarter of the
      // archive, long enough on the slow location to be killed in.
      const bool changed = i >= 1000 && i < 1600;
      newTree_[NameOf(i)] = changed ? Bytes(&rng, kFileSize) : old_[NameOf(i)];
      changed_ += changed ? 1 : 0;
    }
    const testing_update::Release old = testing_update::PublishRelease(
        served_.Path(), "old.zip", 1, oldTree_, "unused", "unused");
    ASSERT_TRUE(WriteWholeFile(served_ / "installed.manifest", update::FormatManifest(old.manifest)));
    archivePath_ = "/slow" + served_.UrlPath("new.zip");
    const testing_update::Release release = testing_update::PublishRelease(
        served_.Path(), "new.zip", 2, newTree_, testing_update::HttpUrl(archivePath_),
        testing_update::HttpUrl(served_.UrlPath("new.zip.manifest")));
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", release.descriptor));
  }

  void PlantClientOfTheManifest() {
    testing_update::EndProcessesBelow(Game(), 2000);
    testing_update::RemoveTree(Game());
    testing_update::RemoveTree(run_ / "Temp");
    ASSERT_TRUE(::CreateDirectoryA(Game().c_str(), nullptr));
    for (const auto& item : oldTree_) {
      if (item.second == "/") {
        ASSERT_TRUE(::CreateDirectoryA((Game() + "\\" + item.first).c_str(), nullptr));
      }
    }
    for (const auto& item : oldTree_) {
      if (item.second != "/") {
        ASSERT_TRUE(WriteWholeFile(Game() + "\\" + item.first, item.second));
      }
    }
    const std::string manifest = ReadWholeFile(served_ / "installed.manifest");
    ASSERT_TRUE(WriteWholeFile(run_ / "install.manifest", manifest));
    const std::string record = run_ / "install.cfg";
    ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "Version", "1", record.c_str()));
    ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "ManifestSha256", testing_update::Sha256Hex(manifest).c_str(),
                                             record.c_str()));
  }

  void ExpectOldNewOrGone(const std::string& when) {
    const Content now = GameFiles(Game());
    std::size_t newFiles = 0;
    for (const auto& item : newTree_) newFiles += item.second == "/" ? 0 : 1;
    bool allNew = now.size() == newFiles;  // the dropped ones gone
    for (const auto& file : now) {
      const auto o = oldTree_.find(file.first);
      const auto n = newTree_.find(file.first);
      const bool isOld = o != oldTree_.end() && file.second == o->second;
      const bool isNew = n != newTree_.end() && file.second == n->second;
      ASSERT_TRUE(isOld || isNew) << when << ": " << file.first << " is neither old nor new";
      allNew = allNew && isNew;
    }
    for (const auto& item : newTree_) {
      if (item.second != "/") {
        ASSERT_TRUE(now.count(item.first)) << when << ": lost " << item.first;
      }
    }
    if (Installed() == 2) {
      EXPECT_TRUE(allNew) << when << ": version 2 over a Game not wholly new";
    }
  }

  testing_update::ClientTree oldTree_, newTree_;
  long long changed_ = 0;
  std::string archivePath_;
};

TEST_F(KilledManifestUpdate, KilledDuringRangesAndCommitItIsOldNewOrGoneAndFetchesNothingTwice) {
  std::mt19937 rng(kSeed + 2);
  const char* const kPhases[] = {"ranges", "commit"};
  const char* const kMarkers[] = {"Temp\\Fetched", "Temp\\commit.journal"};
  const int kMaxDelayMs[] = {600, 300};
  int kills = 0;
  long long keptEntries = 0;
  for (int round = 0; round < 4; ++round) {
    PlantClientOfTheManifest();
    const std::size_t requestsBefore = testing_update::ArchiveServed(archivePath_).requests;
    for (int k = 0; k < 2; ++k) {
      const int phase = round % 2 == 0 ? k : static_cast<int>(rng() % 2);
      const int delayMs = static_cast<int>(rng() % kMaxDelayMs[phase]);
      const std::string when = "round " + std::to_string(round) + ", kill " + std::to_string(k) + " during " +
                               kPhases[phase] + " +" + std::to_string(delayMs) + " ms";
      SCOPED_TRACE(when);
      e2e::LauncherProcess launcher;
      ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
      const ULONGLONG deadline = ::GetTickCount64() + 60000;
      bool reached = false;
      while (::GetTickCount64() < deadline && !(reached = Exists(run_ / kMarkers[phase]))) {
        if (launcher.WaitForExit(2)) break;
      }
      if (reached) ::Sleep(static_cast<DWORD>(delayMs));
      launcher.Kill();
      kills += reached ? 1 : 0;
      ExpectOldNewOrGone(when);
      if (HasFatalFailure()) return;
    }
    e2e::LauncherProcess launcher;
    ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
    ASSERT_TRUE(launcher.WaitForExit(120000)) << "round " << round;
    const std::string log = ReadWholeFile(run_ / "download.log");
    EXPECT_TRUE(launcher.Boxes().empty()) << log;
    EXPECT_EQ(2, Installed()) << "round " << round << ": " << log;
    EXPECT_TRUE(testing_update::GameHolds(Game(), newTree_)) << "round " << round;
    EXPECT_FALSE(Exists(run_ / "Temp\\Fetched"));
    EXPECT_FALSE(Exists(run_ / "Temp\\commit.journal"));
    const std::size_t kept = log.find("Kept ");
    if (kept != std::string::npos) keptEntries += std::atoll(log.c_str() + kept + 5);
    std::printf("manifest kill round %d: %zu archive requests over the round\n", round,
                testing_update::ArchiveServed(archivePath_, requestsBefore).requests);
    for (int i = 0; i < 300 && !Exists(Game() + "\\launch.txt"); ++i) ::Sleep(50);  // the stub game ends
    if (HasFailure()) return;
  }
  std::printf("manifest kill test: %d kills, %lld entries kept from killed runs instead of fetched again\n", kills,
              keptEntries);
}

// A run killed once part of the ranges is fetched: the next run keeps every
// entry already fetched and checked, and asks only for the rest.
TEST_F(KilledManifestUpdate, EntriesFetchedBeforeAKillAreNotFetchedAgain) {
  PlantClientOfTheManifest();
  {
    e2e::LauncherProcess launcher;
    ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
    const ULONGLONG deadline = ::GetTickCount64() + 60000;
    int staged = 0;
    while (::GetTickCount64() < deadline && staged < 150 && !launcher.WaitForExit(20)) {
      staged = 0;
      testing_files::VisitTree(run_ / "Temp\\Fetched", [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && relative.find('.') == std::string::npos) ++staged;
      });
    }
    launcher.Kill();
    ASSERT_GE(staged, 150) << "the ranges were not under way";
  }
  e2e::LauncherProcess launcher;
  ASSERT_TRUE(launcher.Start(run_ / "LauncherScripted.exe", "", run_.Path(), run_ / "page.js"));
  ASSERT_TRUE(launcher.WaitForExit(120000));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(2, Installed()) << log;
  EXPECT_TRUE(testing_update::GameHolds(Game(), newTree_));
  const std::size_t kept = log.find("Kept ");
  ASSERT_NE(std::string::npos, kept) << log;
  const long long keptCount = std::atoll(log.c_str() + kept + 5);
  EXPECT_GE(keptCount, 150) << log;
  const std::size_t fetching = log.find("Fetching ");
  ASSERT_NE(std::string::npos, fetching) << log;
  const long long fetchedCount = std::atoll(log.c_str() + fetching + 9);
  EXPECT_EQ(changed_, keptCount + fetchedCount) << "every changed entry once: kept or fetched, " << log;
  std::printf("kill during ranges: %lld entries kept, %lld fetched by the next run\n", keptCount, fetchedCount);
  for (int i = 0; i < 300 && !Exists(Game() + "\\launch.txt"); ++i) ::Sleep(50);
}

}  // namespace
