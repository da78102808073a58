// The 32-bit product itself (build/i686), started from this 64-bit program as
// a player's desktop starts it: Wine runs it in its 32-bit half, natively or
// under qemu-user (scripts/i686-prefix). Each test starts one 32-bit process,
// which under qemu-user alone takes a minute or more, so each covers much.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/e2e/launcher_installation.h"
#include "tests/ui/ui_test_support.h"
#include "tests/update/test_support.h"
#include "ui/png_decode.h"

namespace {

using e2e::kPromptCaption;
using testing_update::ReadWholeFile;

constexpr DWORD kRunTimeoutMs = 400000;
// 安装游戏失败，请重新启动
constexpr char kInstallFailedText[] =
    "\xb0\xb2\xd7\xb0\xd3\xce\xcf\xb7\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";

class I686ScriptedRun : public e2e::LauncherInstallation {
 protected:
  void SetUp() override { Install(I686_LAUNCHER_SCRIPTED_EXE, "LauncherScripted.exe"); }
};

TEST_F(I686ScriptedRun, OlderClientIsUpdatedRecordedAndStarted) {
  ServeVersion(2, "ClientContent");
  ServeClientArchive("ClientContent");
  WriteScript("window.external.IntoGame('-server=demo user=\"p 1\";x=1');");

  ASSERT_TRUE(Run(kRunTimeoutMs));
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_TRUE(launcher_.Boxes().empty());
  EXPECT_TRUE(ArchiveWasRequested());
  EXPECT_EQ("pak contents", ReadWholeFile(run_ / "Game\\data\\a.pak"));
  EXPECT_EQ(2u, InstalledVersion());
  EXPECT_EQ("Successfully started the game.", ReadWholeFile(run_ / "download.log"));

  // The game gets exactly the page's string, and Game as its working directory.
  EXPECT_TRUE(GameStartedWith("-server=demo user=\"p 1\";x=1"));
}

TEST_F(I686ScriptedRun, ArchiveFailingItsCrcShowsTheBoxAndRecordsNothing) {
  ServeVersion(2, "ClientContent");
  const std::string game = ReadWholeFile(TEST_GAME_STUB);
  ASSERT_FALSE(game.empty());
  const std::string archive = served_ / "ClientContent";
  ASSERT_TRUE(testing_update::WriteZip(archive, {{"TLVR.exe", game, 0x20, false},
                                                 {"bad.bin", std::string(4000, 'q'), 0, true}}));
  ASSERT_TRUE(testing_update::CorruptAfter(archive, "bad.bin"));
  WriteScript("window.external.IntoGame('x');");

  ASSERT_TRUE(Run(kRunTimeoutMs));
  EXPECT_EQ(0u, launcher_.ExitCode());
  ASSERT_EQ(1u, launcher_.Boxes().size()) << ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(kPromptCaption, launcher_.Boxes()[0].caption);
  EXPECT_EQ(kInstallFailedText, launcher_.Boxes()[0].text);
  EXPECT_EQ("Failed to extract bad.bin\nFailed to install game\n",
            ReadWholeFile(run_ / "download.log"));
  EXPECT_EQ(0u, InstalledVersion());
  EXPECT_FALSE(testing_update::Exists(run_ / "install.cfg"));
  EXPECT_TRUE(GameRecord(500).empty());
}

// Launcher.exe, the file players run, with the demo skin.
class I686MainWindow : public e2e::LauncherInstallation {
 protected:
  void SetUp() override { Install(I686_LAUNCHER_EXE, "Launcher.exe"); }
};

TEST_F(I686MainWindow, DemoSkinIsCentredLayeredAndClosesCleanly) {
  std::int32_t width = 0, height = 0;
  std::vector<std::uint8_t> skin;
  ASSERT_GT(ui::DecodePng((run_ / "Data\\skin\\bg.png").c_str(), &width, &height, &skin), 0);
  auto skinAt = [&](int x, int y) {  // 0xAARRGGBB
    const std::uint8_t* p = &skin[(static_cast<std::size_t>(y) * width + x) * 4];
    return static_cast<std::uint32_t>(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0];
  };
  // An opaque pixel of the panel that the page host does not cover, and a
  // transparent corner, which shows what the screen had before.
  constexpr int kPanelX = 25, kPanelY = 300, kCornerX = 1, kCornerY = 1;
  ASSERT_EQ(0xFFu, skinAt(kPanelX, kPanelY) >> 24);
  ASSERT_EQ(0x00u, skinAt(kCornerX, kCornerY) >> 24);

  const RECT centred{(::GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                     (::GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0};
  const RECT expected{centred.left, centred.top, centred.left + width, centred.top + height};
  const uitest::Shot before = uitest::Capture(expected);

  WriteScript("");
  ASSERT_TRUE(launcher_.Start(ProgramPath(), "", run_.Path(), ScriptPath()));
  const HWND main = launcher_.FindWindowOfClass("ZIrregularWindow", kRunTimeoutMs);
  ASSERT_NE(nullptr, main) << "no main window; boxes seen: " << launcher_.Boxes().size();
  // The page host is shown last in start-up: once it is visible the main
  // window has its final place and picture.
  const HWND host = launcher_.FindWindowOfClass("ZWebBrowser", 60000);
  ASSERT_NE(nullptr, host);

  RECT rect{};
  ::GetWindowRect(main, &rect);
  EXPECT_EQ(width, rect.right - rect.left);
  EXPECT_EQ(height, rect.bottom - rect.top);
  EXPECT_EQ(expected.left, rect.left);
  EXPECT_EQ(expected.top, rect.top);

  const std::uint32_t panel = skinAt(kPanelX, kPanelY) & 0xFFFFFF;
  const std::uint32_t seenPanel = uitest::WaitForColour(rect.left + kPanelX, rect.top + kPanelY, panel);
  EXPECT_TRUE(uitest::Near(seenPanel, panel))
      << "panel " << uitest::Hex(seenPanel) << " expected " << uitest::Hex(panel);
  const std::uint32_t under = before.At(expected.left + kCornerX, expected.top + kCornerY);
  const std::uint32_t seenCorner =
      uitest::WaitForColour(rect.left + kCornerX, rect.top + kCornerY, under);
  EXPECT_TRUE(uitest::Near(seenCorner, under))
      << "corner " << uitest::Hex(seenCorner) << " expected " << uitest::Hex(under);
  uitest::SaveToGallery("i686_main_window", uitest::CaptureWindow(main));

  // The demo configuration's page rectangle: (40, 90), 920 x 470.
  RECT hostRect{};
  ::GetWindowRect(host, &hostRect);
  EXPECT_EQ(rect.left + 40, hostRect.left);
  EXPECT_EQ(rect.top + 90, hostRect.top);
  EXPECT_EQ(920, hostRect.right - hostRect.left);
  EXPECT_EQ(470, hostRect.bottom - hostRect.top);

  ::PostMessageA(main, WM_CLOSE, 0, 0);
  ASSERT_TRUE(launcher_.WaitForExit(60000));
  EXPECT_EQ(0u, launcher_.ExitCode());
  EXPECT_TRUE(launcher_.Boxes().empty());
}

}  // namespace
