// The configuration file read through the real profile API, and the
// composition of image paths.
#include "app/launcher_config.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "app/launcher.h"
#include "base/bounded_format.h"
#include "tests/app/test_support.h"

namespace app {
namespace {

// A GBK character whose second byte is "\" (0x5C): U+8AA0.
const char kGbkTrail5C[] = "\xD5\x5C";

const char kFullConfig[] =
    "[MainWindow]\r\nNormalImg=skin\\bg.png\r\n"
    "[MinButton]\r\nHitImg=min_hit.png\r\nNormalImg=min.png\r\nX=909\r\nY=65\r\n"
    "[CloseButton]\r\nHitImg=close_hit.png\r\nNormalImg=close.png\r\nX=940\r\nY=-3\r\n"
    "[Title]\r\nName=\xD5\xC5\xC8\xFD Launcher\r\n"
    "[ProgressWindow]\r\nNormalImg=progress_bg.png\r\nX=11\r\nY=12\r\n"
    "[Progress1]\r\nNormalImg=p1.png\r\nX=6\r\nY=7\r\n"
    "[Progress2]\r\nNormalImg=p2.png\r\nX=8\r\nY=24\r\n"
    "[WebBrowser]\r\nX=20\r\nY=30\r\nW=800\r\nH=600\r\n"
    "Url=http://example.test/news.htm?a=1\r\nStartPage=http://example.test/start.htm\r\n"
    "[Icon]\r\nFile=launcher.ico\r\n"
    "[VersionCDN]\r\nUrl=http://cdn.example.test/\r\n"
    "PublicKey=RWTLi8B2yAx4+DP17lT9uycPw5gmrUPkx5PPPhjJt8zgIQCpq8W/WTuQ\r\nPublicKey2=RWQ2\r\n"
    "Url2=http://mirror2.example.test/\r\nUrl3=http://mirror3.example.test/\r\nProxy=proxy.example.test:3128\r\n"
    "[Download]\r\nMaxKBps=2048\r\nConnections=3\r\n";

TEST(ReadConfigTest, StoresEveryKeyInItsOwnField) {
  apptest::ScratchDir dir;
  const std::string path = dir / "Config.cfg";
  ASSERT_TRUE(apptest::WriteWholeFile(path, kFullConfig));
  LauncherConfig c;
  ASSERT_TRUE(ReadConfigFile(path.c_str(), &c));

  struct { const char* field; std::string actual; const char* expected; } strings[] = {
      {"mainImage", c.skin.mainImage, "skin\\bg.png"},
      {"minHitImage", c.skin.minHitImage, "min_hit.png"},
      {"minNormalImage", c.skin.minNormalImage, "min.png"},
      {"closeHitImage", c.skin.closeHitImage, "close_hit.png"},
      {"closeNormalImage", c.skin.closeNormalImage, "close.png"},
      {"title", c.skin.title, "\xD5\xC5\xC8\xFD Launcher"},
      {"backgroundImage", c.progress.backgroundImage, "progress_bg.png"},
      {"upperBarImage", c.progress.upperBarImage, "p1.png"},
      {"lowerBarImage", c.progress.lowerBarImage, "p2.png"},
      {"url", c.page.url, "http://example.test/news.htm?a=1"},
      {"startPage", c.page.startPage, "http://example.test/start.htm"},
      {"iconFile", c.iconFile, "launcher.ico"},
      {"versionCdnUrl", c.versionCdnUrl, "http://cdn.example.test/"},
      {"publicKey", c.publicKey, "RWTLi8B2yAx4+DP17lT9uycPw5gmrUPkx5PPPhjJt8zgIQCpq8W/WTuQ"},
      {"publicKey2", c.publicKey2, "RWQ2"},
      {"versionCdnUrl2", c.versionCdnUrl2, "http://mirror2.example.test/"},
      {"versionCdnUrl3", c.versionCdnUrl3, "http://mirror3.example.test/"},
      {"proxy", c.proxy, "proxy.example.test:3128"},
  };
  for (const auto& s : strings) EXPECT_EQ(s.actual, s.expected) << s.field;

  struct { const char* field; std::int32_t actual; std::int32_t expected; } numbers[] = {
      {"minX", c.skin.minX, 909}, {"minY", c.skin.minY, 65},
      {"closeX", c.skin.closeX, 940}, {"closeY", c.skin.closeY, -3},
      {"windowX", c.progress.windowX, 11}, {"windowY", c.progress.windowY, 12},
      {"upperBarX", c.progress.upperBarX, 6}, {"upperBarY", c.progress.upperBarY, 7},
      {"lowerBarX", c.progress.lowerBarX, 8}, {"lowerBarY", c.progress.lowerBarY, 24},
      {"page x", c.page.x, 20}, {"page y", c.page.y, 30},
      {"width", c.page.width, 800}, {"height", c.page.height, 600},
      {"maxKBps", c.download.maxKBps, 2048},
      {"connections", c.download.connections, 3},
  };
  for (const auto& n : numbers) EXPECT_EQ(n.actual, n.expected) << n.field;
}

TEST(ReadConfigTest, EmptyFileGivesTheDefaults) {
  apptest::ScratchDir dir;
  const std::string path = dir / "Config.cfg";
  ASSERT_TRUE(apptest::WriteWholeFile(path, ""));
  LauncherConfig c;
  std::memset(c.page.url, 'x', sizeof c.page.url - 1);  // must be overwritten
  c.skin.minX = 909;                                   // must be replaced by 0
  ASSERT_TRUE(ReadConfigFile(path.c_str(), &c));
  EXPECT_STREQ(c.skin.title, "ORVA");
  EXPECT_STREQ(c.skin.mainImage, "");
  EXPECT_STREQ(c.page.url, "");
  EXPECT_STREQ(c.page.startPage, "");
  EXPECT_STREQ(c.iconFile, "");
  EXPECT_STREQ(c.versionCdnUrl, "");
  EXPECT_STREQ(c.publicKey, "");
  EXPECT_STREQ(c.publicKey2, "");
  EXPECT_EQ(c.skin.minX, 0);
  EXPECT_EQ(c.page.height, 0);
  EXPECT_EQ(c.download.maxKBps, 0);  // no cap
  EXPECT_EQ(c.download.connections, 4);
}

TEST(ReadConfigTest, NegativeSpeedCapIsNoCap) {
  apptest::ScratchDir dir;
  const std::string path = dir / "Config.cfg";
  ASSERT_TRUE(apptest::WriteWholeFile(path, "[Download]\r\nMaxKBps=-5\r\n"));
  LauncherConfig c;
  ASSERT_TRUE(ReadConfigFile(path.c_str(), &c));
  EXPECT_EQ(c.download.maxKBps, 0);
}

TEST(ReadConfigTest, ConnectionsAreOneToEightAndAnythingElseIsTheDefault) {
  apptest::ScratchDir dir;
  const std::string path = dir / "Config.cfg";
  const struct { const char* value; std::int32_t connections; } cases[] = {
      {"1", 1}, {"8", 8}, {"9", 8}, {"99999999999999999999", 8}, {" 2 ", 2},
      {"0", 4}, {"-3", 4}, {"", 4}, {"abc", 4}, {"3x", 4}, {"2.5", 4},
  };
  for (const auto& c : cases) {
    ASSERT_TRUE(apptest::WriteWholeFile(path, std::string("[Download]\r\nConnections=") + c.value + "\r\n"));
    LauncherConfig config;
    ASSERT_TRUE(ReadConfigFile(path.c_str(), &config));
    EXPECT_EQ(c.connections, config.download.connections) << "Connections=" << c.value;
  }
}

TEST(ReadConfigTest, MissingFileReturnsFalseAndStoresNothing) {
  apptest::ScratchDir dir;
  LauncherConfig c;
  c.skin.minX = 77;
  base::CopyInto(c.skin.title, "kept");
  EXPECT_FALSE(ReadConfigFile((dir.Path() + "\\Data\\Config.cfg").c_str(), &c));
  EXPECT_EQ(c.skin.minX, 77);
  EXPECT_STREQ(c.skin.title, "kept");
  EXPECT_FALSE(ReadConfigFile(nullptr, &c));
}

TEST(ReadConfigTest, ProfileRulesForNamesAndValues) {
  apptest::ScratchDir dir;
  const std::string long300(300, 'v');
  const std::string path = dir / "Config.cfg";
  ASSERT_TRUE(apptest::WriteWholeFile(
      path,
      "[mainwindow]\r\nnormalimg=lower.png\r\n"
      "[TITLE]\r\nNAME=   spaced out   \r\n"
      "[WebBrowser]\r\nUrl=\"http://quoted.test/\"\r\nStartPage=" + long300 + "\r\n"
      "x=  42\r\n"
      "[MinButton]\r\nY=5\r\n"
      "[Icon]\r\nFile=\xB1\xED.ico\r\n"));
  LauncherConfig c;
  ASSERT_TRUE(ReadConfigFile(path.c_str(), &c));
  EXPECT_STREQ(c.skin.mainImage, "lower.png");
  EXPECT_STREQ(c.skin.title, "spaced out");
  EXPECT_STREQ(c.page.url, "http://quoted.test/");
  EXPECT_EQ(std::string(c.page.startPage), long300.substr(0, 259));
  EXPECT_EQ(c.page.x, 42);
  EXPECT_EQ(c.skin.minX, 0);  // key missing in a present section
  EXPECT_EQ(c.skin.minY, 5);
  EXPECT_STREQ(c.iconFile, "\xB1\xED.ico");
}

TEST(ReadConfigTest, FileInADirectoryWithA5CTrailByte) {
  int wide = ::MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, kGbkTrail5C, -1, nullptr, 0);
  ASSERT_EQ(wide, 2) << "0xD5 0x5C must be one GBK character";

  apptest::ScratchDir dir;
  const std::string data = dir.MakeDirs({kGbkTrail5C, "Data"});
  const std::string path = data + "\\Config.cfg";
  ASSERT_TRUE(apptest::WriteWholeFile(path, "[VersionCDN]\r\nUrl=http://gbk.test/\r\n"));
  LauncherConfig c;
  ASSERT_TRUE(ReadConfigFile(path.c_str(), &c));
  EXPECT_STREQ(c.versionCdnUrl, "http://gbk.test/");
}

TEST(ReadConfigTest, RelativePathIsTheCurrentDirectorysFile) {
  apptest::ScratchDir dir;
  ASSERT_TRUE(apptest::WriteWholeFile(dir / "relative.cfg", "[Title]\r\nName=here\r\n"));
  char previous[MAX_PATH] = {};
  ::GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
  LauncherConfig c;
  const bool read = ReadConfigFile("relative.cfg", &c);
  ::SetCurrentDirectoryA(previous);
  ASSERT_TRUE(read);
  EXPECT_STREQ(c.skin.title, "here");
}

TEST(ComposeImagePathTest, ValuesAreTakenRelativeToTheExecutablesDirectory) {
  const std::string gbkDir = std::string("C:\\games\\") + kGbkTrail5C;
  struct {
    std::string module;
    std::string value;
    std::string expected;
  } cases[] = {
      {"C:\\a\\b\\Launcher.exe", "skin\\bg.png", "C:\\a\\b\\skin\\bg.png"},
      {"C:\\a\\b\\Launcher.exe", "\\skin\\bg.png", "C:\\a\\b\\skin\\bg.png"},
      {"C:\\a\\b\\Launcher.exe", "C:\\skin\\bg.png", "C:\\a\\b\\C:\\skin\\bg.png"},
      {"C:\\a\\b\\Launcher.exe", "", "C:\\a\\b\\"},
      // The trail byte 0x5C of the directory's name is not a separator.
      {gbkDir + "\\Launcher.exe", "bg.png", gbkDir + "\\bg.png"},
      {std::string("C:\\dir\\") + kGbkTrail5C + ".exe", "bg.png", "C:\\dir\\bg.png"},
      {gbkDir + "\\" + kGbkTrail5C + "\\L.exe", "\\x.png",
       gbkDir + "\\" + kGbkTrail5C + "\\x.png"},
  };
  for (const auto& c : cases) {
    char out[MAX_PATH];
    EXPECT_TRUE(ComposeImagePathFrom(c.module.c_str(), c.value.c_str(), out, sizeof out))
        << c.value;
    EXPECT_EQ(std::string(out), c.expected) << c.module << " + " << c.value;
  }
}

TEST(ComposeImagePathTest, APathThatDoesNotFitIsLeftEmpty) {
  const std::string module = "C:\\" + std::string(200, 'd') + "\\Launcher.exe";
  const std::string directory = "C:\\" + std::string(200, 'd') + "\\";
  // Directory (204 with the separator) + value: 259 characters fit, 260 do not.
  const std::string fits(259 - directory.size(), 'v');
  const std::string tooLong = fits + "v";
  char out[MAX_PATH];
  ASSERT_TRUE(ComposeImagePathFrom(module.c_str(), fits.c_str(), out, sizeof out));
  EXPECT_EQ(std::string(out), directory + fits);

  std::memset(out, 'x', sizeof out);
  EXPECT_FALSE(ComposeImagePathFrom(module.c_str(), tooLong.c_str(), out, sizeof out));
  EXPECT_STREQ(out, "");
  // The same with a leading "\" (no separator is added).
  EXPECT_FALSE(ComposeImagePathFrom(module.c_str(), ("\\" + tooLong).c_str(), out, sizeof out));
  EXPECT_STREQ(out, "");
}

TEST(ComposeImagePathTest, LauncherLeavesThePathInItsPathBuffer) {
  ZornLauncher launcher;
  ASSERT_TRUE(launcher.ComposeImagePath("skin\\bg.png"));
  EXPECT_EQ(std::string(launcher.PathBuffer()), apptest::ModuleDirectory() + "\\skin\\bg.png");

  EXPECT_FALSE(launcher.ComposeImagePath(std::string(300, 'v').c_str()));
  EXPECT_STREQ(launcher.PathBuffer(), "");
}

}  // namespace
}  // namespace app
