// The whole launcher from outside: LauncherScripted.exe started in a fresh
// directory, its page script calling window.external.IntoGame, the update
// served by nginx, the stub game installed from the archive and started.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher_installation.h"
#include "tests/update/test_support.h"
#include "tools/pack/signing.h"
#include "update/trust/archive_digest.h"

namespace {

using e2e::kPromptCaption;
using testing_update::ReadWholeFile;
using testing_update::WriteWholeFile;

constexpr DWORD kRunTimeoutMs = 90000;
// 下载游戏资源错误，请重新启动
constexpr char kArchiveFailedText[] =
    "\xCF\xC2\xD4\xD8\xD3\xCE\xCF\xB7\xD7\xCA\xD4\xB4\xB4\xED\xCE\xF3\xA3\xAC\xC7\xEB\xD6\xD8"
    "\xD0\xC2\xC6\xF4\xB6\xAF";

// The scripted launcher of this test program's own build (x86_64 or i686) in a
// fresh installation.
class LauncherRun : public e2e::LauncherInstallation {
 protected:
  void SetUp() override { Install(LAUNCHER_SCRIPTED_EXE, "LauncherScripted.exe"); }
  bool Run(const std::string& arguments = "") {
    return LauncherInstallation::Run(kRunTimeoutMs, arguments);
  }
};

TEST_F(LauncherRun, OlderClientIsUpdatedRecordedAndStarted) {
  ServeVersion(2, "ClientContent");
  ServeClientArchive("ClientContent");
  WriteScript("window.external.IntoGame('-server=demo user=\"p 1\";x=1');");

  ASSERT_TRUE(Run());
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_TRUE(launcher_.Boxes().empty());
  EXPECT_TRUE(ArchiveWasRequested());
  EXPECT_EQ("pak contents", ReadWholeFile(run_ / "Game\\data\\a.pak"));
  EXPECT_EQ(2u, ::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str()));
  EXPECT_EQ("Successfully started the game.", ReadWholeFile(run_ / "download.log"));

  // The game gets exactly the page's string, and Game as its working directory.
  EXPECT_TRUE(GameStartedWith("-server=demo user=\"p 1\";x=1"));
}

TEST_F(LauncherRun, CurrentClientIsStartedWithoutFetchingTheArchive) {
  ServeVersion(2, "ClientContent");
  ServeClientArchive("ClientContent");
  ASSERT_TRUE(::CreateDirectoryA((run_ / "Game").c_str(), nullptr));
  ASSERT_TRUE(::CopyFileA(TEST_GAME_STUB, (run_ / "Game\\TLVR.exe").c_str(), FALSE));
  ASSERT_TRUE(::WritePrivateProfileStringA("Launcher", "Version", "2", (run_ / "install.cfg").c_str()));
  WriteScript("external.IntoGame('same version');");

  ASSERT_TRUE(Run());
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_FALSE(ArchiveWasRequested());
  EXPECT_FALSE(testing_update::Exists(run_ / "Game\\data"));
  EXPECT_NE(std::string::npos, GameRecord().find(" same version"));
  EXPECT_EQ("Successfully started the game.", ReadWholeFile(run_ / "download.log"));
}

TEST_F(LauncherRun, LatestIntoGameBeforeTheGameStartsIsPassed) {
  ServeVersion(2, "ClientContent");
  ServeClientArchive("ClientContent");
  WriteScript("window.external.IntoGame('first'); window.external.IntoGame('second');");

  ASSERT_TRUE(Run());
  EXPECT_EQ(0u, launcher_.ExitCode());
  const std::string record = GameRecord();
  EXPECT_NE(std::string::npos, record.find(" second\n")) << record;
  EXPECT_EQ(std::string::npos, record.find("first")) << record;
}

TEST_F(LauncherRun, MissingArchiveShowsTheBoxAndCloses) {
  ServeVersion(3, "ClientContent");  // never written: nginx answers with its 404 page
  WriteScript("window.external.IntoGame('x');");

  ASSERT_TRUE(Run());
  EXPECT_EQ(0u, launcher_.ExitCode());
  ASSERT_EQ(1u, launcher_.Boxes().size()) << ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(kPromptCaption, launcher_.Boxes()[0].caption);
  EXPECT_EQ(kArchiveFailedText, launcher_.Boxes()[0].text);
  EXPECT_EQ(0u, ::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str()));
  EXPECT_NE(std::string::npos, ReadWholeFile(run_ / "download.log").find("404 Not Found"));
  EXPECT_TRUE(GameRecord(500).empty());
}

// 下载版本文件错误，请重新启动
constexpr char kVersionFailedText[] =
    "\xCF\xC2\xD4\xD8\xB0\xE6\xB1\xBE\xCE\xC4\xBC\xFE\xB4\xED\xCE\xF3\xA3\xAC\xC7\xEB\xD6\xD8"
    "\xD0\xC2\xC6\xF4\xB6\xAF";

// The public key reaches the worker from Data\Config.cfg: a release signed
// with it installs, one signed with another key is refused before the archive.
TEST_F(LauncherRun, PublicKeyInTheConfigurationDecidesWhichReleasesInstall) {
  pack::KeyPair key;
  pack::KeyPair other;
  ASSERT_TRUE(pack::GenerateKeyPair(&key));
  ASSERT_TRUE(pack::GenerateKeyPair(&other));
  ServeClientArchive("ClientContent");
  const std::string archive = ReadWholeFile(served_ / "ClientContent");
  const std::string hex = testing_update::Sha256Hex(archive);
  const std::string descriptor = "[Launcher]\r\nVersion=2\r\nUrl=" +
                                 testing_update::HttpUrl(served_.UrlPath("ClientContent")) + "\r\nSha256=" + hex +
                                 "\r\nSize=" + std::to_string(archive.size()) + "\r\n";
  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", descriptor));
  const std::string config = ReadWholeFile(run_ / "Data\\Config.cfg");
  ASSERT_TRUE(WriteWholeFile(run_ / "Data\\Config.cfg", config + "\r\nPublicKey=" + pack::PublicKeyLine(key.publicKey) + "\r\n"));
  WriteScript("window.external.IntoGame('signed');");

  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg.minisig", pack::SignPrehashed(descriptor, other, "version:2")));
  ASSERT_TRUE(Run());
  ASSERT_EQ(1u, launcher_.Boxes().size()) << ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(kVersionFailedText, launcher_.Boxes()[0].text);
  EXPECT_NE(std::string::npos, ReadWholeFile(run_ / "download.log").find("Refused version.cfg: signed by key "));
  EXPECT_FALSE(ArchiveWasRequested());

  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg.minisig", pack::SignPrehashed(descriptor, key, "version:2")));
  e2e::LauncherProcess again;
  ASSERT_TRUE(again.Start(run_ / "LauncherScripted.exe", "", run_.Path(), ScriptPath()) &&
              again.WaitForExit(kRunTimeoutMs));
  EXPECT_EQ(0u, again.ExitCode());
  EXPECT_TRUE(again.Boxes().empty()) << ReadWholeFile(run_ / "download.log");
  EXPECT_EQ("Successfully started the game.", ReadWholeFile(run_ / "download.log"));
  EXPECT_EQ(2u, ::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str()));
  EXPECT_NE(std::string::npos, GameRecord().find(" signed"));
}

TEST_F(LauncherRun, NoConfigurationFileShowsTheBoxAndNoWindow) {
  ASSERT_TRUE(::DeleteFileA((run_ / "Data\\Config.cfg").c_str()));
  WriteScript("window.external.IntoGame('x');");

  ASSERT_TRUE(Run());
  ASSERT_EQ(1u, launcher_.Boxes().size());
  EXPECT_EQ("Failure", launcher_.Boxes()[0].caption);
  EXPECT_EQ("Read Config.cfg failed!", launcher_.Boxes()[0].text);
  EXPECT_FALSE(launcher_.EverShowedClass("ZIrregularWindow"));
  EXPECT_NE(0u, launcher_.ExitCode());
}

// A client installed by a first run, then damaged: the second run repairs it,
// asked by the page or by the command line.
class LauncherRepair : public LauncherRun {
 protected:
  int ArchiveRequests() const {
    const std::string log = ReadWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
    const std::string path = served_.UrlPath("ClientContent");
    int count = 0;
    for (std::size_t at = log.find(path); at != std::string::npos; at = log.find(path, at + 1)) ++count;
    return count;
  }
  void InstallThenDamage() {
    ServeVersion(2, "ClientContent");
    ServeClientArchive("ClientContent");
    WriteScript("window.external.IntoGame('first');");
    ASSERT_TRUE(Run());
    ASSERT_EQ("pak contents", ReadWholeFile(run_ / "Game\\data\\a.pak"));
    ASSERT_EQ(1, ArchiveRequests());
    ASSERT_FALSE(GameRecord().empty());  // the game of the first run has started and written its record
    ASSERT_TRUE(::DeleteFileA((run_ / "Game\\launch.txt").c_str()));
    ASSERT_TRUE(WriteWholeFile(run_ / "Game\\data\\a.pak", "pak"));
  }
  void ExpectMendedAndStartedWith(const std::string& parameters) {
    EXPECT_EQ(0u, launcher_.ExitCode());
    EXPECT_TRUE(launcher_.Boxes().empty());
    EXPECT_EQ("pak contents", ReadWholeFile(run_ / "Game\\data\\a.pak"));
    EXPECT_EQ(1, ArchiveRequests());  // mended from the archive kept in Temp
    const std::string log = ReadWholeFile(run_ / "download.log");
    EXPECT_NE(std::string::npos, log.find("): 1 missing or different\nMended 1 of 1 files\n")) << log;
    EXPECT_NE(std::string::npos, GameRecord().find(" " + parameters + "\n"));
  }
};

TEST_F(LauncherRepair, FromThePage) {
  ASSERT_NO_FATAL_FAILURE(InstallThenDamage());
  WriteScript("window.external.Repair('second');");
  ASSERT_TRUE(Run());
  ExpectMendedAndStartedWith("second");
}

TEST_F(LauncherRepair, ByRepairOnTheCommandLine) {
  ASSERT_NO_FATAL_FAILURE(InstallThenDamage());
  WriteScript("window.external.IntoGame('third');");
  ASSERT_TRUE(Run("token=abc;repair=1"));
  ExpectMendedAndStartedWith("third");
}

TEST_F(LauncherRepair, NotAskedForLeavesTheDamage) {
  ASSERT_NO_FATAL_FAILURE(InstallThenDamage());
  WriteScript("window.external.IntoGame('fourth');");
  ASSERT_TRUE(Run("repair=0"));
  EXPECT_EQ("pak", ReadWholeFile(run_ / "Game\\data\\a.pak"));
  EXPECT_EQ("Successfully started the game.", ReadWholeFile(run_ / "download.log"));
}

// Page scripts that do not enter the game: the player closes the launcher.
class LauncherClosed : public LauncherRun {
 protected:
  HWND StartAndFindMainWindow() {
    WriteScript("var idle = true;");
    if (!launcher_.Start(ProgramPath(), "", run_.Path(), ScriptPath())) return nullptr;
    return launcher_.FindWindowOfClass("ZIrregularWindow", 30000);
  }
};

TEST_F(LauncherClosed, ByTheCloseButton) {
  const HWND main = StartAndFindMainWindow();
  ASSERT_NE(nullptr, main);
  // The demo skin's close button sits at (958, 20), 24 x 24.
  ::PostMessageA(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(958 + 5, 20 + 5));
  ASSERT_TRUE(launcher_.WaitForExit(30000));
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_TRUE(launcher_.Boxes().empty());
}

TEST_F(LauncherClosed, ByWmClose) {
  const HWND main = StartAndFindMainWindow();
  ASSERT_NE(nullptr, main);
  ::PostMessageA(main, WM_CLOSE, 0, 0);
  ASSERT_TRUE(launcher_.WaitForExit(30000));
  EXPECT_EQ(0u, launcher_.ExitCode());
  // Nothing was entered: the check that ran while the page showed installed
  // nothing and started no game.
  EXPECT_EQ(std::string::npos, ReadWholeFile(run_ / "download.log").find("started the game"));
  EXPECT_EQ(0u, ::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str()));
}

TEST_F(LauncherClosed, DuringAStalledTransferWithoutRecordingAnything) {
  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg",
                             "[Launcher]\r\nVersion=5\r\nUrl=" + testing_update::FixtureUrl("/stall") + "\r\n"));
  WriteScript("window.external.IntoGame('x');");
  ASSERT_TRUE(launcher_.Start(ProgramPath(), "", run_.Path(), ScriptPath()));
  const ULONGLONG deadline = ::GetTickCount64() + 30000;
  while (!testing_update::Exists(run_ / "Temp\\ClientContent") && ::GetTickCount64() < deadline)
    ::Sleep(50);
  ASSERT_TRUE(testing_update::Exists(run_ / "Temp\\ClientContent"));
  const HWND main = launcher_.FindWindowOfClass("ZIrregularWindow", 5000, /*hiddenToo=*/true);
  ASSERT_NE(nullptr, main);

  // The worker is still inside the transfer when the launcher tears down.
  ::PostMessageA(main, WM_CLOSE, 0, 0);
  ASSERT_TRUE(launcher_.WaitForExit(30000));
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_TRUE(launcher_.Boxes().empty());
  EXPECT_EQ(0u, ::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str()));
}

}  // namespace
