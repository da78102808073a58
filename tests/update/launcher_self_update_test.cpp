// The launcher's own update in whole worker runs against nginx: a signed
// package swapped in for the next start while the game is updated and
// started; packages that fail their digest or their self-test refused for
// good; an unsigned descriptor's offer ignored; a held file that undoes the
// swap; a folder that cannot be written; and a kill after every rename of a
// swap, after which the next start finds a launcher that runs.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/guards.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"
#include "tools/pack/signing.h"
#include "update/self_update/launcher_swap.h"
#include "update/self_update/self_test_run.h"

namespace {

using namespace testing_update;

const char* const kSkinFiles[] = {"bg.png",          "min_n.png", "min_h.png", "close_n.png", "close_h.png",
                                  "progress_bg.png", "bar1.png",  "bar2.png"};
const char kLauncherName[] = "My Launcher.exe";  // not the package's name: the running file's is kept

std::string Skin(const std::string& file) { return ReadWholeFile(std::string(SKIN_DIR) + "\\" + file); }

int LauncherKey(const std::string& installRecord, const char* key) {
  return static_cast<int>(::GetPrivateProfileIntA("Launcher", key, -1, installRecord.c_str()));
}

class SelfUpdate : public Worker {
 protected:
  void SetUp() override {
    Worker::SetUp();
    ASSERT_TRUE(pack::GenerateKeyPair(&key_));
    publicKey_ = pack::PublicKeyLine(key_.publicKey);
    oldLauncher_ = ReadWholeFile(OLD_LAUNCHER_EXE);
    newLauncher_ = ReadWholeFile(NEW_LAUNCHER_EXE);
    ASSERT_FALSE(oldLauncher_.empty());
    ASSERT_NE(oldLauncher_, newLauncher_);
    InstallLauncher(directory_);
    launcherPath_ = At(kLauncherName);
    PlaceGame();
    SetInstalled(1);
  }

  // The launcher as a player has it in `folder`: its executable, Data\Config.cfg and the skin.
  void InstallLauncher(const std::string& folder) {
    ASSERT_TRUE(WriteWholeFile(folder + "\\" + kLauncherName, oldLauncher_));
    ::CreateDirectoryA((folder + "\\Data").c_str(), nullptr);
    ::CreateDirectoryA((folder + "\\Data\\skin").c_str(), nullptr);
    for (const char* file : kSkinFiles) ASSERT_TRUE(WriteWholeFile(folder + "\\Data\\skin\\" + file, Skin(file)));
    std::string config = ReadWholeFile(CONFIG_TEMPLATE);
    const std::string marker = "@BASE_URL@";
    for (std::size_t at; (at = config.find(marker)) != std::string::npos;) config.replace(at, marker.size(), "http://127.0.0.1");
    ASSERT_TRUE(WriteWholeFile(folder + "\\Data\\Config.cfg", config));
  }

  // Serves the package (the executable, a changed main image and a new
  // file) and returns its bytes.
  std::string ServePackage(const std::string& executable) {
    EXPECT_TRUE(WriteZip(served_ / "Launcher.zip", {{"Launcher.exe", executable, 0x20},
                                                    {"Data/", "", 0x10},
                                                    {"Data/skin/bg.png", Skin("close_h.png"), 0x20},
                                                    {"Data/skin/new.png", Skin("min_h.png"), 0x20}}));
    return ReadWholeFile(served_ / "Launcher.zip");
  }

  // Publishes client version 2 and, signed, a descriptor that names it and
  // launcher 2 as `package` (described by `described`, which may differ).
  // Returns the descriptor's URL.
  std::string Publish(const std::string& package, const std::string& described, bool sign = true) {
    EXPECT_TRUE(WriteZip(served_ / "client.zip", {{"data/", "", 0x10}, {"data/a.pak", "pak 2", 0x20},
                                                  {"TLVR.exe", ReadWholeFile(TEST_GAME_STUB), 0x20}}));
    const std::string client = ReadWholeFile(served_ / "client.zip");
    std::string text = Descriptor(2, HttpUrl(served_.UrlPath("client.zip")));
    text += "Sha256=" + Sha256Hex(client) + "\r\nSize=" + std::to_string(client.size()) + "\r\n";
    text += "LauncherVersion=2\r\nLauncherUrl=" + HttpUrl(served_.UrlPath("Launcher.zip")) + "\r\n";
    text += "LauncherSha256=" + Sha256Hex(described) + "\r\nLauncherSize=" + std::to_string(described.size()) + "\r\n";
    (void)package;
    if (sign) {
      EXPECT_TRUE(WriteWholeFile(served_ / "version.cfg.minisig",
                                 pack::SignPrehashed(text, key_, "file:version.cfg\tversion:2")));
    }
    return Serve("version.cfg", text);
  }

  std::size_t PackageRequests() const { return ServedRequests(served_.UrlPath("Launcher.zip")).size(); }

  // The game was updated to 2 and started in this run.
  void ExpectGameUpdatedAndStarted(const Observed& observed) {
    EXPECT_TRUE(observed.closeRequested);
    EXPECT_TRUE(observed.boxes.empty());
    EXPECT_EQ(2, InstalledVersion());
    EXPECT_EQ("pak 2", ReadWholeFile(Game() + "\\data\\a.pak"));
    EXPECT_NE(std::string::npos, Log().find(kStarted)) << Log();
  }

  void ExpectOldLauncher() {
    EXPECT_TRUE(ReadWholeFile(launcherPath_) == oldLauncher_);
    EXPECT_TRUE(Skin("bg.png") == ReadWholeFile(At("Data\\skin\\bg.png")));
    EXPECT_FALSE(Exists(At("Data\\skin\\new.png")));
    EXPECT_FALSE(Exists(At("Temp\\launcher.journal")));
  }

  pack::KeyPair key_;
  std::string oldLauncher_;
  std::string newLauncher_;
};

TEST_F(SelfUpdate, SignedPackageIsSwappedInForTheNextStartAndTheGameIsUpdated) {
  const std::string package = ServePackage(newLauncher_);
  const std::string url = Publish(package, package);
  const Observed observed = Run(url);
  ExpectGameUpdatedAndStarted(observed);
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Launcher 2 passed its self-test (")) << log;
  EXPECT_NE(std::string::npos, log.find("Swapped in launcher 2 (3 files)")) << log;
  // The swap came before the game's update.
  EXPECT_LT(log.find("Swapped in launcher 2"), log.find(kStarted));

  EXPECT_TRUE(ReadWholeFile(launcherPath_) == newLauncher_);
  EXPECT_TRUE(Skin("close_h.png") == ReadWholeFile(At("Data\\skin\\bg.png")));
  EXPECT_TRUE(Skin("min_h.png") == ReadWholeFile(At("Data\\skin\\new.png")));
  EXPECT_TRUE(Skin("bar1.png") == ReadWholeFile(At("Data\\skin\\bar1.png")));  // not in the package: untouched
  EXPECT_EQ(2, LauncherKey(At("install.cfg"), "LauncherVersion"));
  EXPECT_TRUE(ReadWholeFile(At("Temp\\Launcher\\previous\\My Launcher.exe")) == oldLauncher_);
  EXPECT_TRUE(Skin("bg.png") == ReadWholeFile(At("Temp\\Launcher\\previous\\Data\\skin\\bg.png")));
  EXPECT_FALSE(Exists(At("Temp\\launcher.journal")));
  EXPECT_FALSE(Exists(At("Temp\\Launcher\\2")));

  // What the next start runs is the new build, and it starts.
  const update::SelfTestResult next = update::RunSelfTest(launcherPath_, directory_, At("Temp\\next.txt"));
  EXPECT_TRUE(next.passed) << next.cause;
  EXPECT_NE(std::string::npos, next.identity.find(" next")) << next.identity;

  // The next run keeps it and fetches nothing of it.
  const std::size_t requests = PackageRequests();
  update::ResetDownloadLogForTesting();
  Run(url);
  EXPECT_EQ(requests, PackageRequests());
  EXPECT_EQ(std::string::npos, Log().find("launcher 2")) << Log();
}

TEST_F(SelfUpdate, PackageThatFailsACheckIsRefusedForGoodAndTheGameStillUpdates) {
  struct Case {
    const char* what;
    const char* executable;  // the package's Launcher.exe; null: the new launcher
    bool damaged;            // the served bytes differ from the described ones
    const char* cause;
  };
  const Case cases[] = {
      {"silent", SILENT_STUB_EXE, false, "the self-test exited 0 without writing its result"},
      {"crash", CRASH_STUB_EXE, false, "the self-test exited with 0xC0000005"},
      {"digest", nullptr, true, "its SHA-256 is not LauncherSha256"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string package = ServePackage(c.executable != nullptr ? ReadWholeFile(c.executable) : newLauncher_);
    std::string described = package;
    if (c.damaged) described[described.size() / 2] ^= 0x01;
    const std::string url = Publish(package, described);
    const Observed observed = Run(url);
    ExpectGameUpdatedAndStarted(observed);
    EXPECT_NE(std::string::npos, Log().find(std::string("Refused launcher 2: ") + c.cause)) << Log().substr(0, 2000);
    ExpectOldLauncher();
    EXPECT_EQ(2, LauncherKey(At("install.cfg"), "LauncherRefused"));
    EXPECT_EQ(-1, LauncherKey(At("install.cfg"), "LauncherVersion"));
    EXPECT_FALSE(Exists(At("Temp\\Launcher\\Launcher.zip.part")));

    const std::size_t requests = PackageRequests();
    update::ResetDownloadLogForTesting();
    Run(url);
    EXPECT_EQ(requests, PackageRequests());
    EXPECT_NE(std::string::npos, Log().find("Launcher 2 was refused before: not fetched again")) << Log();
    ExpectOldLauncher();

    // The next case starts from launcher 1 and client 1 again.
    ::WritePrivateProfileStringA("Launcher", "LauncherRefused", nullptr, At("install.cfg").c_str());
    SetInstalled(1);
    update::ResetDownloadLogForTesting();
  }
}

TEST_F(SelfUpdate, UnsignedDescriptorThatNamesALauncherChangesNothing) {
  publicKey_.clear();
  const std::string package = ServePackage(newLauncher_);
  const Observed observed = Run(Publish(package, package, false));
  ExpectGameUpdatedAndStarted(observed);
  EXPECT_NE(std::string::npos, Log().find("Ignored launcher 2: version.cfg is not signed")) << Log();
  EXPECT_EQ(0u, PackageRequests());
  ExpectOldLauncher();
  EXPECT_EQ(-1, LauncherKey(At("install.cfg"), "LauncherRefused"));
}

TEST_F(SelfUpdate, FileHeldThroughTheSwapUndoesItAndTheNextRunSwaps) {
  swap_.heldBudgetMs = 1500;
  const std::string package = ServePackage(newLauncher_);
  const std::string url = Publish(package, package);
  {
    FileHeldElsewhere holder(TEST_FILE_HOLDER, At("Data\\skin\\bg.png"), At("held.ready"));
    ASSERT_TRUE(holder.Holding());
    const Observed observed = Run(url);
    ExpectGameUpdatedAndStarted(observed);
    EXPECT_NE(std::string::npos, Log().find("Undid the swap to launcher 2: held by another process")) << Log();
  }
  ExpectOldLauncher();
  EXPECT_EQ(-1, LauncherKey(At("install.cfg"), "LauncherVersion"));
  EXPECT_EQ(-1, LauncherKey(At("install.cfg"), "LauncherRefused"));  // a held file is no fault of the package

  // Released: the next run swaps from the package it kept.
  const std::size_t requests = PackageRequests();
  update::ResetDownloadLogForTesting();
  Run(url);
  EXPECT_NE(std::string::npos, Log().find("Swapped in launcher 2")) << Log();
  EXPECT_TRUE(ReadWholeFile(launcherPath_) == newLauncher_);
  EXPECT_EQ(requests, PackageRequests());
}

// A read-only file system that scripts/test-servers mounts (as root).
TEST_F(SelfUpdate, FolderThatCannotBeWrittenIsSkippedOnce) {
  const char* readOnly = std::getenv("LAUNCHER_READONLY_DIR_WIN");
  if (readOnly == nullptr || *readOnly == '\0') GTEST_SKIP() << "no read-only folder (scripts/test-servers mounts one as root)";
  launcherPath_ = std::string(readOnly) + "\\" + kLauncherName;
  const std::string package = ServePackage(newLauncher_);
  const Observed observed = Run(Publish(package, package));
  ExpectGameUpdatedAndStarted(observed);
  const std::string log = Log();
  const std::size_t said = log.find("Cannot update the launcher: ");
  EXPECT_NE(std::string::npos, said) << log;
  EXPECT_EQ(std::string::npos, log.find("Cannot update the launcher: ", said + 1)) << log;
  EXPECT_EQ(0u, PackageRequests());
  EXPECT_EQ(-1, LauncherKey(At("install.cfg"), "LauncherRefused"));
}

// The swap of a launcher folder cut by the end of its process after each
// rename (0: the journal written, nothing moved; 5: every file moved, the
// version not yet recorded; 6: no cut), then a start's recovery:
// the folder holds wholly the old or wholly the new launcher, which starts.
TEST_F(SelfUpdate, KillAfterEveryRenameOfTheSwapLeavesALauncherThatStarts) {
  const std::string folder = At("cut");
  const std::string unpacked = folder + "\\Temp\\Launcher\\2";
  const std::string previous = folder + "\\Temp\\Launcher\\previous";
  update::SwapRecord record;
  record.version = 2;
  record.moves = {{folder + "\\" + kLauncherName, unpacked + "\\Launcher.exe", previous + "\\" + kLauncherName, true},
                  {folder + "\\Data\\skin\\bg.png", unpacked + "\\Data\\skin\\bg.png",
                   previous + "\\Data\\skin\\bg.png", true},
                  {folder + "\\Data\\skin\\new.png", unpacked + "\\Data\\skin\\new.png",
                   previous + "\\Data\\skin\\new.png", false}};
  std::string journal;
  ASSERT_TRUE(update::FormatSwapJournal(record, &journal));
  ASSERT_TRUE(WriteWholeFile(At("record.txt"), journal));
  update::SwapPlaces places;
  places.journal = folder + "\\Temp\\launcher.journal";
  places.installRecord = folder + "\\install.cfg";

  constexpr std::size_t kRenames = 5;  // 2 for each replaced file, 1 for the new one
  for (std::size_t cut = 0; cut <= kRenames + 1; ++cut) {
    SCOPED_TRACE("cut after rename " + std::to_string(cut));
    RemoveTree(folder);
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
    InstallLauncher(folder);
    ASSERT_TRUE(::CreateDirectoryA((folder + "\\Temp").c_str(), nullptr));
    for (const char* level : {"\\Temp\\Launcher", "\\Temp\\Launcher\\2", "\\Temp\\Launcher\\2\\Data",
                              "\\Temp\\Launcher\\2\\Data\\skin"})
      ASSERT_TRUE(::CreateDirectoryA((folder + level).c_str(), nullptr)) << level;
    WriteClientTree(unpacked, {{"Launcher.exe", newLauncher_},
                               {"Data\\skin\\bg.png", Skin("close_h.png")},
                               {"Data\\skin\\new.png", Skin("min_h.png")}});

    const std::string line = std::string("\"") + SWAP_CUTTER_EXE + "\" \"" + At("record.txt") + "\" \"" +
                             places.journal + "\" \"" + places.installRecord + "\" " + std::to_string(cut);
    std::vector<char> commandLine(line.begin(), line.end());
    commandLine.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                 &info));
    base::UniqueHandle process(info.hProcess);
    base::UniqueHandle thread(info.hThread);
    ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.Get(), 30000));
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.Get(), &exitCode);
    EXPECT_EQ(cut <= kRenames ? 9u : 0u, exitCode);
    EXPECT_EQ(cut <= kRenames, Exists(places.journal));

    update::RecoverLauncherSwap(places);  // what every start does first
    EXPECT_FALSE(Exists(places.journal));
    const bool swapped = ReadWholeFile(folder + "\\" + kLauncherName) == newLauncher_;
    EXPECT_TRUE(swapped || ReadWholeFile(folder + "\\" + kLauncherName) == oldLauncher_);
    EXPECT_TRUE(Skin(swapped ? "close_h.png" : "bg.png") == ReadWholeFile(folder + "\\Data\\skin\\bg.png"));
    EXPECT_EQ(swapped, Exists(folder + "\\Data\\skin\\new.png"));
    EXPECT_EQ(swapped ? 2 : -1, LauncherKey(places.installRecord, "LauncherVersion"));

    const update::SelfTestResult start =
        update::RunSelfTest(folder + "\\" + kLauncherName, folder, folder + "\\Temp\\start.txt");
    EXPECT_TRUE(start.passed) << start.cause;
  }
}

}  // namespace
