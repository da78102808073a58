#include "launcher_installation.h"

namespace e2e {

namespace {

using testing_update::ReadWholeFile;
using testing_update::WriteWholeFile;

const char* const kSkinFiles[] = {"bg.png",      "min_n.png", "min_h.png", "close_n.png",
                                  "close_h.png", "progress_bg.png", "bar1.png", "bar2.png",
                                  "launcher.ico"};

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

}  // namespace

void LauncherInstallation::Install(const std::string& program, const std::string& name) {
  program_ = name;
  ASSERT_TRUE(::CopyFileA(program.c_str(), ProgramPath().c_str(), FALSE)) << program;
  ASSERT_TRUE(::CreateDirectoryA((run_ / "Data").c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA((run_ / "Data\\skin").c_str(), nullptr));
  for (const char* file : kSkinFiles) {
    const std::string from = std::string(E2E_SKIN_DIR) + "\\" + file;
    ASSERT_TRUE(::CopyFileA(from.c_str(), (run_ / ("Data\\skin\\" + std::string(file))).c_str(), FALSE))
        << from;
  }
  std::string base = testing_update::HttpUrl(served_.UrlPath(""));
  base.pop_back();  // no trailing "/"
  const std::string config = ReplaceAll(ReadWholeFile(E2E_CONFIG_TEMPLATE), "@BASE_URL@", base);
  ASSERT_FALSE(config.empty());
  ASSERT_TRUE(WriteWholeFile(run_ / "Data\\Config.cfg", config));
}

void LauncherInstallation::ServeVersion(int version, const std::string& archiveName) {
  const std::string descriptor = "[Launcher]\r\nVersion=" + std::to_string(version) +
                                 "\r\nUrl=" + testing_update::HttpUrl(served_.UrlPath(archiveName)) +
                                 "\r\n";
  ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", descriptor));
}

void LauncherInstallation::ServeClientArchive(const std::string& archiveName) {
  const std::string game = ReadWholeFile(TEST_GAME_STUB);
  ASSERT_FALSE(game.empty());
  ASSERT_TRUE(testing_update::WriteZip(served_ / archiveName,
                                       {{"data/", "", 16, true},
                                        {"data/a.pak", "pak contents", 0x20, false},
                                        {"TLVR.exe", game, 0x20, false}}));
}

void LauncherInstallation::WriteScript(const std::string& script) {
  ASSERT_TRUE(WriteWholeFile(ScriptPath(), script));
}

bool LauncherInstallation::Run(DWORD timeoutMs, const std::string& arguments) {
  return launcher_.Start(ProgramPath(), arguments, run_.Path(), ScriptPath()) &&
         launcher_.WaitForExit(timeoutMs);
}

std::string LauncherInstallation::GameRecord(DWORD waitMs) const {
  return testing_update::WaitForFile(run_ / "Game\\launch.txt", static_cast<int>(waitMs));
}

::testing::AssertionResult LauncherInstallation::GameStartedWith(const std::string& parameters) const {
  const std::string record = GameRecord();
  const std::size_t lineEnd = record.find('\n');
  if (lineEnd == std::string::npos) return ::testing::AssertionFailure() << "no game record: " << record;
  const std::string commandLine = record.substr(0, lineEnd);
  const std::string tail = " " + parameters;
  if (commandLine.size() < tail.size() || commandLine.compare(commandLine.size() - tail.size(), tail.size(), tail) != 0)
    return ::testing::AssertionFailure() << "command line " << commandLine;
  if (record.find("\\Game", lineEnd) == std::string::npos)
    return ::testing::AssertionFailure() << "working directory " << record.substr(lineEnd + 1);
  return ::testing::AssertionSuccess();
}

bool LauncherInstallation::ArchiveWasRequested() const {
  const std::string log = ReadWholeFile(testing_update::ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
  return log.find(served_.UrlPath("ClientContent")) != std::string::npos;
}

std::uint32_t LauncherInstallation::InstalledVersion() const {
  return ::GetPrivateProfileIntA("Launcher", "Version", 0, (run_ / "install.cfg").c_str());
}

}  // namespace e2e
