// One launcher installation for the end-to-end tests: a fresh folder with a
// launcher program, Data\Config.cfg pointing at a folder nginx serves, and the
// demo skin. The folder is also the run's current directory, so Temp, Game,
// install.cfg and download.log land there. Used for the x86_64 twin and for
// the 32-bit product alike.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "launcher_process.h"
#include "tests/update/test_support.h"

namespace e2e {

constexpr char kPromptCaption[] = "\xCC\xE1\xCA\xBE";  // 提示

class LauncherInstallation : public ::testing::Test {
 protected:
  // Copies `program` (a Windows path) in as `name`, with the skin and the
  // configuration; assert on HasFatalFailure() after it.
  void Install(const std::string& program, const std::string& name);

  // version.cfg: `version`, and the archive at `archiveName` in the served folder.
  void ServeVersion(int version, const std::string& archiveName);
  // The client archive: a data folder with a file, and the stub game.
  void ServeClientArchive(const std::string& archiveName);

  void WriteScript(const std::string& script);
  std::string ScriptPath() const { return run_ / "page.js"; }
  std::string ProgramPath() const { return run_ / program_; }

  // Starts the program and waits for it to end, dismissing its boxes.
  bool Run(DWORD timeoutMs, const std::string& arguments = "");

  // What the stub game recorded: its command line, then its working directory.
  // The game runs on after the launcher has closed, so give it a moment.
  std::string GameRecord(DWORD waitMs = 15000) const;
  // The game started in Game with a command line that ends in exactly
  // `parameters` (the page's string after the program's name and a space).
  ::testing::AssertionResult GameStartedWith(const std::string& parameters) const;
  bool ArchiveWasRequested() const;
  std::uint32_t InstalledVersion() const;

  testing_update::ScratchDir run_;
  testing_update::ServedDir served_;
  LauncherProcess launcher_;
  std::string program_;
};

}  // namespace e2e
