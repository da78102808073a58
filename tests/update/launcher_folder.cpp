#include "tests/update/launcher_folder.h"

#include "update/download_log_testing.h"

namespace testing_update {

void LauncherFolderTest::SetUp() {
  ::GetCurrentDirectoryA(sizeof previous_, previous_);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir_.Path().c_str()));
  ResetLog();
  ASSERT_TRUE(::CreateDirectoryA(Game().c_str(), nullptr));
  ASSERT_TRUE(::CreateDirectoryA(Temp().c_str(), nullptr));
  game_ = Game();
  staging_ = Temp() + "\\Staging";
  journal_ = Temp() + "\\commit.journal";
}

void LauncherFolderTest::TearDown() {
  ::SetCurrentDirectoryA(previous_);
  update::ResetDownloadLogForTesting();
}

void LauncherFolderTest::ResetLog() {
  update::ResetDownloadLogForTesting();
  ::DeleteFileA((dir_ / "download.log").c_str());
}

update::CommitPlace LauncherFolderTest::Place() const {
  update::CommitPlace place;
  place.gameDirectory = game_.c_str();
  place.stagingDirectory = staging_.c_str();
  place.journalPath = journal_.c_str();
  return place;
}

}  // namespace testing_update
