// A launcher's working folder for tests that install without a worker: a
// scratch directory made the current one while the test runs, with Game and
// Temp, a fresh download log, and the commit's places inside it.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/update/test_support.h"
#include "update/install/commit.h"

namespace testing_update {

class LauncherFolderTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void ResetLog();  // a fresh log for the next step
  std::string Game() const { return dir_ / "Game"; }
  std::string Temp() const { return dir_ / "Temp"; }
  std::string Archive() const { return Temp() + "\\ClientContent"; }
  std::string Log() const { return ReadWholeFile(dir_ / "download.log"); }
  update::CommitPlace Place() const;

  ScratchDir dir_;
  std::string game_, staging_, journal_;

 private:
  char previous_[MAX_PATH] = {};
};

}  // namespace testing_update
