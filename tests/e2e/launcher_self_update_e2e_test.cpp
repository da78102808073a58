// The launcher's own update as a player meets it: the tree's scripted twin,
// installed under a name of its own and started as a separate process,
// finds a signed descriptor that offers launcher 2 (its differently
// identified twin with another main image) beside client 2. The run swaps
// the launcher, updates and starts the game; the next start is the new
// executable, which updates the client to 3 and fetches no launcher.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher_installation.h"
#include "tools/pack/signing.h"

namespace e2e {

namespace {

using testing_update::ReadWholeFile;
using testing_update::Sha256Hex;
using testing_update::WriteWholeFile;

class SelfUpdateE2e : public LauncherInstallation {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pack::GenerateKeyPair(&key_));
    Install(LAUNCHER_SCRIPTED_EXE, "Game Launcher.exe");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(::WritePrivateProfileStringA("VersionCDN", "PublicKey", pack::PublicKeyLine(key_.publicKey).c_str(),
                                             (run_ / "Data\\Config.cfg").c_str()));
    newLauncher_ = ReadWholeFile(NEXT_LAUNCHER_EXE);
    newImage_ = ReadWholeFile(std::string(E2E_SKIN_DIR) + "\\progress_bg.png");
    ASSERT_FALSE(newLauncher_.empty());
    ASSERT_TRUE(testing_update::WriteZip(served_ / "Launcher.zip", {{"Launcher.exe", newLauncher_, 0x20, false},
                                                                    {"Data/skin/bg.png", newImage_, 0x20, false}}));
    package_ = ReadWholeFile(served_ / "Launcher.zip");
  }

  // Client `version` (its a.pak says which) and launcher 2, under the key.
  void Publish(int version) {
    const std::string game = ReadWholeFile(TEST_GAME_STUB);
    const std::string archive = "client" + std::to_string(version) + ".zip";
    ASSERT_TRUE(testing_update::WriteZip(served_ / archive, {{"data/a.pak", "pak " + std::to_string(version), 0x20, false},
                                                              {"TLVR.exe", game, 0x20, false}}));
    const std::string bytes = ReadWholeFile(served_ / archive);
    const std::string descriptor =
        "[Launcher]\r\nVersion=" + std::to_string(version) + "\r\nUrl=" + testing_update::HttpUrl(served_.UrlPath(archive)) +
        "\r\nSha256=" + Sha256Hex(bytes) + "\r\nSize=" + std::to_string(bytes.size()) +
        "\r\nLauncherVersion=2\r\nLauncherUrl=" + testing_update::HttpUrl(served_.UrlPath("Launcher.zip")) +
        "\r\nLauncherSha256=" + Sha256Hex(package_) + "\r\nLauncherSize=" + std::to_string(package_.size()) + "\r\n";
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", descriptor));
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg.minisig",
                               pack::SignPrehashed(descriptor, key_, "file:version.cfg")));
  }

  std::string Log() const { return ReadWholeFile(run_ / "download.log"); }
  std::size_t PackageRequests() const {
    return testing_update::ServedRequests(served_.UrlPath("Launcher.zip")).size();
  }

  pack::KeyPair key_;
  std::string newLauncher_;
  std::string newImage_;
  std::string package_;
};

TEST_F(SelfUpdateE2e, OneRunSwapsTheLauncherAndStartsTheGameAndTheNextStartRunsTheNewOne) {
  const std::string oldLauncher = ReadWholeFile(ProgramPath());
  Publish(2);
  WriteScript("window.external.IntoGame('first');");
  ASSERT_TRUE(Run(120000));
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_TRUE(launcher_.Boxes().empty());
  EXPECT_TRUE(GameStartedWith("first"));
  EXPECT_EQ(2u, InstalledVersion());
  EXPECT_EQ("pak 2", ReadWholeFile(run_ / "Game\\data\\a.pak"));
  EXPECT_NE(std::string::npos, Log().find("Swapped in launcher 2 (2 files)")) << Log();
  EXPECT_TRUE(ReadWholeFile(ProgramPath()) == newLauncher_);
  EXPECT_TRUE(ReadWholeFile(run_ / "Data\\skin\\bg.png") == newImage_);
  EXPECT_EQ(2, static_cast<int>(::GetPrivateProfileIntA("Launcher", "LauncherVersion", 0,
                                                        (run_ / "install.cfg").c_str())));
  EXPECT_TRUE(ReadWholeFile(run_ / "Temp\\Launcher\\previous\\Game Launcher.exe") == oldLauncher);

  // The next start is the new executable: it updates the client as before
  // and leaves the launcher as it is.
  ::DeleteFileA((run_ / "Game\\launch.txt").c_str());
  Publish(3);
  const std::size_t requests = PackageRequests();
  WriteScript("window.external.IntoGame('second');");
  ASSERT_TRUE(Run(120000));
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_TRUE(launcher_.Boxes().empty());
  EXPECT_TRUE(GameStartedWith("second"));
  EXPECT_EQ(3u, InstalledVersion());
  EXPECT_EQ("pak 3", ReadWholeFile(run_ / "Game\\data\\a.pak"));
  EXPECT_EQ(requests, PackageRequests());
  EXPECT_EQ(std::string::npos, Log().find("launcher 2")) << Log();
  EXPECT_TRUE(ReadWholeFile(ProgramPath()) == newLauncher_);
}

}  // namespace

}  // namespace e2e
