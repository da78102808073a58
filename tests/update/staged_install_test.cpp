// The staged installation and its commit on real files: what staging leaves
// untouched when it fails, the free-space check on a small real volume, the
// commit's moves, recovery from every interrupted or damaged state, a target
// held open by another process, and the retried transfers against the
// fixture server.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/progress_targets.h"
#include "base/thread.h"
#include "tests/support/volume_filler.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "update/install/archive_install.h"
#include "update/install/commit.h"
#include "update/install/commit_journal.h"
#include "update/download_log_testing.h"
#include "update/transfer/http_download.h"
#include "update/install/staging.h"
#include "tests/support/small_volume.h"

namespace {

using namespace testing_update;
using Tree = std::map<std::string, std::string>;  // path below the root -> content ("/" for a directory)

Tree Snapshot(const std::string& root) {
  Tree tree;
  testing_files::VisitTree(root, [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    tree["\\" + relative] = directory ? "/" : ReadWholeFile(root + "\\" + relative);
  });
  return tree;
}

class Staged : public ::testing::Test {
 protected:
  void SetUp() override {
    ::GetCurrentDirectoryA(sizeof previous_, previous_);
    UseRoot(dir_.Path());
  }
  void TearDown() override {
    ::SetCurrentDirectoryA(previous_);
    update::ResetDownloadLogForTesting();
  }
  // A fresh log for the next step: a step that writes nothing leaves none.
  void ResetLog() {
    update::ResetDownloadLogForTesting();
    ::DeleteFileA((root_ + "\\download.log").c_str());
  }
  void UseRoot(const std::string& root) {
    root_ = root;
    ASSERT_TRUE(::SetCurrentDirectoryA(root.c_str()));
    ResetLog();
    ::CreateDirectoryA(Game().c_str(), nullptr);
    ::CreateDirectoryA(Temp().c_str(), nullptr);
    game_ = Game();
    staging_ = Temp() + "\\Staging";
    journal_ = Temp() + "\\commit.journal";
  }
  // An empty Game and Temp, and no log.
  void EmptyRoot() {
    RemoveTree(Game());
    RemoveTree(Temp());
    ::CreateDirectoryA(Game().c_str(), nullptr);
    ::CreateDirectoryA(Temp().c_str(), nullptr);
    ResetLog();
  }
  std::string Game() const { return root_ + "\\Game"; }
  std::string Temp() const { return root_ + "\\Temp"; }
  std::string Archive() const { return Temp() + "\\ClientContent"; }
  std::string Log() const { return ReadWholeFile(root_ + "\\download.log"); }
  update::CommitPlace Place() const {
    update::CommitPlace place;
    place.gameDirectory = game_.c_str();
    place.stagingDirectory = staging_.c_str();
    place.journalPath = journal_.c_str();
    return place;
  }
  update::InstallResult Install(std::int32_t version = 2) {
    return update::InstallUpdate(Place(), Archive().c_str(), version);
  }
  // What a commit that stopped after `moved` files leaves: the journal, the
  // rest still staged.
  update::JournalRecord Interrupt(std::int32_t version, std::size_t moved) {
    update::JournalRecord plan;
    plan.version = version;
    EXPECT_EQ(update::StageResult::Staged,
              update::StageArchive(Archive().c_str(), game_.c_str(), staging_.c_str(), &plan));
    EXPECT_TRUE(update::WriteJournalFile(journal_.c_str(), plan));
    std::size_t done = 0;
    for (const update::JournalEntry& e : plan.entries) {
      if (e.kind != update::JournalEntryKind::File || done == moved) continue;
      const std::string target = Game() + "\\" + e.name;
      ::CreateDirectoryA(target.substr(0, target.find_last_of("\\/")).c_str(), nullptr);
      EXPECT_TRUE(::MoveFileExA((staging_ + "\\" + update::StagedFileName(e.staged)).c_str(), target.c_str(),
                                MOVEFILE_REPLACE_EXISTING));
      ++done;
    }
    return plan;
  }

  ScratchDir dir_;
  std::string root_, game_, staging_, journal_;
  char previous_[MAX_PATH] = {};
};

// The old client in Game and the new one in the archive.
const Tree kOld = {{"\\a.txt", "old a"}, {"\\data", "/"}, {"\\data\\b.pak", "old b, longer"}, {"\\keep.txt", "mine"}};
const std::vector<ZipEntry> kNewEntries = {
    {"a.txt", "new a", 0}, {"data/", "", 0x10}, {"data/b.pak", "new b", 0}, {"data/sub/c.bin", std::string(9000, 'c'), 0},
    {"empty/", "", 0x10}};
const Tree kNew = {{"\\a.txt", "new a"},
                   {"\\data", "/"},
                   {"\\data\\b.pak", "new b"},
                   {"\\data\\sub", "/"},
                   {"\\data\\sub\\c.bin", std::string(9000, 'c')},
                   {"\\empty", "/"},
                   {"\\keep.txt", "mine"}};

void Plant(const std::string& root, const Tree& tree) {
  for (const auto& item : tree) {
    if (item.second == "/") {
      ::CreateDirectoryA((root + item.first).c_str(), nullptr);
    } else {
      ASSERT_TRUE(WriteWholeFile(root + item.first, item.second)) << item.first;
    }
  }
}

TEST_F(Staged, InstallsWhatTheInPlaceInstallationInstalls) {
  const std::vector<std::vector<ZipEntry>> archives = {
      kNewEntries,
      {},
      {{"./x//y.txt", "Y", 0}, {"bin/readme", "R", 0}, {"LICENSE", "L", 0}},
      {{"\xd7\xca\xd4\xb4/", "", 0x10}, {"\xd7\xca\xd4\xb4/\x81\x5c.txt", "G", 0}},
      {{"dup.txt", "first", 0}, {"dup.txt", "second", 0}},
      {{"pack.new/", "", 0x10}, {"file/sub/", "", 0x10}, {"after.txt", "after", 0}},
  };
  for (std::size_t i = 0; i < archives.size(); ++i) {
    SCOPED_TRACE(i);
    RemoveTree(Game());
    ::CreateDirectoryA(Game().c_str(), nullptr);
    Plant(Game(), kOld);
    ASSERT_TRUE(WriteWholeFile(Game() + "\\file", "a file where a directory is named"));
    ASSERT_TRUE(WriteZip(Archive(), archives[i]));
    const std::string inPlace = root_ + "\\InPlace";
    RemoveTree(inPlace);
    ::CreateDirectoryA(inPlace.c_str(), nullptr);
    Plant(inPlace, kOld);
    ASSERT_TRUE(WriteWholeFile(inPlace + "\\file", "a file where a directory is named"));
    ResetLog();
    ASSERT_TRUE(update::InstallArchive(inPlace.c_str(), Archive().c_str()));
    const std::string inPlaceLog = Log();
    ResetLog();
    ASSERT_EQ(update::InstallResult::Installed, Install());
    update::EndCommit(Place());
    EXPECT_EQ(Snapshot(inPlace), Snapshot(Game()));
    // The same lines, with the same target directory named.
    std::string expected = inPlaceLog;
    for (std::size_t at; (at = expected.find(inPlace)) != std::string::npos;) expected.replace(at, inPlace.size(), Game());
    EXPECT_EQ(expected, Log());
    EXPECT_FALSE(Exists(staging_));
    EXPECT_FALSE(Exists(journal_));
  }
}

TEST_F(Staged, FailedStagingLeavesGameAsItWasAndNothingBehind) {
  struct Case { const char* label; std::vector<ZipEntry> entries; const char* corruptAfter; std::string log; };
  const std::vector<Case> cases = {
      {"corrupt last entry", {{"a.txt", "new a", 0}, {"data/b.pak", "new b", 0}, {"bad.bin", std::string(4000, 'q'), 0, true}},
       "bad.bin", "Failed to extract bad.bin\n"},
      {"name reaching outside", {{"a.txt", "new a", 0}, {"../x", "no", 0}}, nullptr, "Refused archive entry (../x)\n"},
      {"not an archive", {}, nullptr, "Failed to open " + Archive() + "\n"},
  };
  Plant(Game(), kOld);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ResetLog();
    if (c.entries.empty()) {
      ASSERT_TRUE(WriteWholeFile(Archive(), "<html>not a zip</html>"));
    } else {
      ASSERT_TRUE(WriteZip(Archive(), c.entries));
    }
    if (c.corruptAfter) {
      ASSERT_TRUE(CorruptAfter(Archive(), c.corruptAfter));
    }
    EXPECT_EQ(update::InstallResult::Failed, Install());
    EXPECT_EQ(kOld, Snapshot(Game()));
    EXPECT_FALSE(Exists(staging_));
    EXPECT_FALSE(Exists(journal_));
    EXPECT_EQ(c.log, Log());
  }
}

// Every thread count stages the same files under the same numbers, and a
// corrupt entry among many fails the staging with its one line whichever
// thread meets it, leaving nothing behind once every thread has ended.
TEST_F(Staged, EveryThreadCountStagesTheSameFilesAndAFailureEndsThemAll) {
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 300; ++i) {
    const std::string folder = "pack" + std::to_string(i % 7) + "/";
    if (i % 50 == 0) entries.push_back({folder + "sub" + std::to_string(i) + "/", "", 0x10});
    // Empty files, small ones and a few beyond one read of the extracting buffer.
    const std::size_t size = i % 61 == 0 ? 0 : i % 97 == 0 ? 600 * 1024 + i : 100 + 37 * i;
    std::string data = Noise(size, static_cast<unsigned>(i));
    if (i % 2 == 0) data = std::string(size, static_cast<char>('a' + i % 26));
    entries.push_back({folder + "file" + std::to_string(i) + ".dat", data, 0x20, i % 3 == 0});
  }
  ASSERT_TRUE(WriteZip(Archive(), entries));
  Tree firstStaged;
  std::size_t firstPlanned = 0;
  for (const unsigned threads : {1u, 2u, 4u}) {
    SCOPED_TRACE(threads);
    update::JournalRecord plan;
    ASSERT_EQ(update::StageResult::Staged, update::StageArchive(Archive().c_str(), game_.c_str(), staging_.c_str(),
                                                                &plan, nullptr, nullptr, threads));
    const Tree staged = Snapshot(staging_);
    if (threads == 1) {
      firstStaged = staged;
      firstPlanned = plan.entries.size();
      ASSERT_LE(entries.size(), plan.entries.size());
    }
    EXPECT_EQ(firstStaged, staged);
    EXPECT_EQ(firstPlanned, plan.entries.size());
    update::RemoveStagingFolder(staging_.c_str());
  }

  entries.insert(entries.begin() + 150, {"pack3/bad.bin", std::string(40000, 'q'), 0x20});
  ASSERT_TRUE(WriteZip(Archive(), entries));
  ASSERT_TRUE(CorruptAfter(Archive(), "pack3/bad.bin"));
  for (const unsigned threads : {1u, 4u}) {
    SCOPED_TRACE(threads);
    ResetLog();
    update::JournalRecord plan;
    EXPECT_EQ(update::StageResult::Failed, update::StageArchive(Archive().c_str(), game_.c_str(), staging_.c_str(),
                                                                &plan, nullptr, nullptr, threads));
    EXPECT_TRUE(plan.entries.empty());
    EXPECT_FALSE(Exists(staging_));
    EXPECT_EQ("Failed to extract pack3/bad.bin\n", Log());
  }
}

TEST_F(Staged, ASelectionStagesAndCommitsOnlyTheEntriesItNames) {
  Plant(Game(), kOld);
  std::vector<ZipEntry> entries = kNewEntries;
  entries.push_back({"bad.bin", std::string(4000, 'q'), 0, true});
  ASSERT_TRUE(WriteZip(Archive(), entries));
  ASSERT_TRUE(CorruptAfter(Archive(), "bad.bin"));
  // A corrupt entry outside the selection is passed over, never extracted.
  const std::set<std::string> selection = {"data/b.pak", "data/sub/c.bin"};
  std::uint64_t committed = 0;
  ASSERT_EQ(update::InstallResult::Installed,
            update::InstallUpdate(Place(), Archive().c_str(), 3, nullptr, &selection, &committed));
  EXPECT_EQ(2u, committed);
  update::JournalRecord journal;
  const std::string journalBytes = ReadWholeFile(journal_);
  ASSERT_EQ(update::JournalParse::Valid, update::ParseJournal(journalBytes.data(), journalBytes.size(), &journal));
  EXPECT_EQ(3, journal.version);
  ASSERT_EQ(2u, journal.entries.size());
  EXPECT_EQ("data/b.pak", journal.entries[0].name);
  EXPECT_EQ("data/sub/c.bin", journal.entries[1].name);
  update::EndCommit(Place());
  const Tree expected = {{"\\a.txt", "old a"},
                         {"\\data", "/"},
                         {"\\data\\b.pak", "new b"},
                         {"\\data\\sub", "/"},
                         {"\\data\\sub\\c.bin", std::string(9000, 'c')},
                         {"\\keep.txt", "mine"}};
  EXPECT_EQ(expected, Snapshot(Game()));
  EXPECT_EQ("", Log());

  // Selected, the corrupt entry fails the staging and Game is left alone.
  const std::set<std::string> corrupt = {"a.txt", "bad.bin"};
  EXPECT_EQ(update::InstallResult::Failed,
            update::InstallUpdate(Place(), Archive().c_str(), 3, nullptr, &corrupt, &committed));
  EXPECT_EQ(0u, committed);
  EXPECT_EQ(expected, Snapshot(Game()));
  EXPECT_FALSE(Exists(staging_));
  EXPECT_FALSE(Exists(journal_));
  EXPECT_EQ("Failed to extract bad.bin\n", Log());
}

TEST_F(Staged, CommitMovesEveryStagedFileAndKeepsTheJournalUntilEnded) {
  Plant(Game(), kOld);
  ASSERT_TRUE(WriteZip(Archive(), kNewEntries));
  ASSERT_EQ(update::InstallResult::Installed, Install(5));
  EXPECT_EQ(kNew, Snapshot(Game()));
  for (const auto& left : Snapshot(staging_)) EXPECT_EQ("/", left.second) << left.first << ": moved, not copied";
  EXPECT_TRUE(Exists(journal_));            // until the version is recorded
  update::EndCommit(Place());
  EXPECT_FALSE(Exists(journal_));
  EXPECT_FALSE(Exists(staging_));
  EXPECT_EQ("", Log());
}

TEST_F(Staged, RecoveryFinishesOrDiscardsEveryInterruptedState) {
  enum class Damage { None, CutJournal, JournalOnlyTemporary, StagedFileMissing, StagedFileShort, MovedFileChanged };
  struct Case {
    const char* label;
    std::size_t moved;  // files moved before the interruption (of 3)
    Damage damage;
    update::RecoveryResult result;
    std::string log;
  };
  const std::vector<Case> cases = {
      {"nothing moved yet", 0, Damage::None, update::RecoveryResult::Finished, "Finished interrupted commit of version 9\n"},
      {"half moved", 2, Damage::None, update::RecoveryResult::Finished, "Finished interrupted commit of version 9\n"},
      {"all moved, version not recorded", 3, Damage::None, update::RecoveryResult::Finished,
       "Finished interrupted commit of version 9\n"},
      {"journal cut", 1, Damage::CutJournal, update::RecoveryResult::Discarded,
       "Discarded damaged commit journal " + journal_ + "\n"},
      {"staging begun, journal never written", 0, Damage::JournalOnlyTemporary, update::RecoveryResult::NoCommit, ""},
      {"a staged file lost", 1, Damage::StagedFileMissing, update::RecoveryResult::Discarded,
       "Discarded commit of version 9: staged file for data/sub/c.bin is missing or damaged\n"},
      {"a staged file cut", 1, Damage::StagedFileShort, update::RecoveryResult::Discarded,
       "Discarded commit of version 9: staged file for data/sub/c.bin is missing or damaged\n"},
      {"a moved file changed since", 2, Damage::MovedFileChanged, update::RecoveryResult::Discarded,
       "Discarded commit of version 9: staged file for a.txt is missing or damaged\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EmptyRoot();
    Plant(Game(), kOld);
    ASSERT_TRUE(WriteZip(Archive(), kNewEntries));
    update::JournalRecord plan = Interrupt(9, c.moved);
    const std::string lastStaged = staging_ + "\\" + update::StagedFileName(plan.entries[3].staged);  // c.bin
    switch (c.damage) {
      case Damage::None: break;
      case Damage::CutJournal: {
        const std::string bytes = ReadWholeFile(journal_);
        ASSERT_TRUE(WriteWholeFile(journal_, bytes.substr(0, bytes.size() - 3)));
        break;
      }
      case Damage::JournalOnlyTemporary:
        ASSERT_TRUE(::MoveFileExA(journal_.c_str(), (journal_ + ".tmp").c_str(), MOVEFILE_REPLACE_EXISTING));
        break;
      case Damage::StagedFileMissing: ASSERT_TRUE(::DeleteFileA(lastStaged.c_str())); break;
      case Damage::StagedFileShort: ASSERT_TRUE(WriteWholeFile(lastStaged, "cut")); break;
      case Damage::MovedFileChanged: ASSERT_TRUE(WriteWholeFile(Game() + "\\a.txt", "edited since")); break;
    }
    const Tree before = Snapshot(Game());
    std::int32_t version = 0;
    EXPECT_EQ(c.result, update::RecoverCommit(Place(), &version));
    EXPECT_EQ(c.log, Log());
    if (c.result == update::RecoveryResult::Finished) {
      EXPECT_EQ(9, version);
      EXPECT_EQ(kNew, Snapshot(Game()));
      update::EndCommit(Place());
    } else {
      EXPECT_EQ(before, Snapshot(Game())) << "a damaged commit moves nothing more";
    }
    EXPECT_FALSE(Exists(journal_));
    EXPECT_FALSE(Exists(journal_ + ".tmp"));
    EXPECT_FALSE(Exists(staging_));
  }
}

// A first installation: into an empty Game, with folders named by the files
// only (and one directory entry); "solo" holds one file and goes by number.
const std::vector<ZipEntry> kFirstEntries = {
    {"pack0/sub/a.dat", "aaaa", 0}, {"pack1/b.dat", "bb", 0},  {"pack0/c.dat", "c", 0},
    {"pack1/sub/", "", 0x10},       {"pack1/d.dat", std::string(5000, 'd'), 0},
    {"top.txt", "top", 0},          {"solo/x.txt", "x", 0}};
const Tree kFirst = {{"\\pack0", "/"},        {"\\pack0\\sub", "/"},  {"\\pack0\\sub\\a.dat", "aaaa"},
                     {"\\pack0\\c.dat", "c"},  {"\\pack1", "/"},        {"\\pack1\\b.dat", "bb"},
                     {"\\pack1\\sub", "/"},    {"\\pack1\\d.dat", std::string(5000, 'd')},
                     {"\\top.txt", "top"},      {"\\solo", "/"},         {"\\solo\\x.txt", "x"}};

TEST_F(Staged, AFirstInstallationMovesWholeFoldersAndRecoveryFinishesOrDiscardsThem) {
  ASSERT_TRUE(WriteZip(Archive(), kFirstEntries));
  std::uint64_t committed = 0;
  ASSERT_EQ(update::InstallResult::Installed,
            update::InstallUpdate(Place(), Archive().c_str(), 6, nullptr, nullptr, &committed));
  EXPECT_EQ(6u, committed);
  EXPECT_EQ(kFirst, Snapshot(Game()));
  // Moved whole, the staged folders are gone; moved file by file they would
  // have left their directories behind.
  EXPECT_EQ(Tree({{"\\00000000", "/"}, {"\\tree", "/"}}), Snapshot(staging_));
  const std::string journalBytes = ReadWholeFile(journal_);
  update::JournalRecord journal;
  ASSERT_EQ(update::JournalParse::Valid, update::ParseJournal(journalBytes.data(), journalBytes.size(), &journal));
  std::vector<std::string> folders;
  for (const update::JournalEntry& e : journal.entries)
    if (e.kind == update::JournalEntryKind::Tree) folders.push_back(e.name);
  EXPECT_EQ((std::vector<std::string>{"pack0", "pack1"}), folders);
  update::EndCommit(Place());
  EXPECT_EQ("", Log());

  enum class Damage { None, StagedFolderLost, StagedFileCut, MovedFileChanged, FolderMadeInGame };
  struct Case {
    const char* label;
    std::size_t moved;  // folders moved before the interruption (of 2)
    Damage damage;
    update::RecoveryResult result;
    std::string log;
  };
  const std::vector<Case> cases = {
      {"nothing moved yet", 0, Damage::None, update::RecoveryResult::Finished, "Finished interrupted commit of version 9\n"},
      {"one folder moved", 1, Damage::None, update::RecoveryResult::Finished, "Finished interrupted commit of version 9\n"},
      {"both folders moved, the numbered files not", 2, Damage::None, update::RecoveryResult::Finished,
       "Finished interrupted commit of version 9\n"},
      {"the folder made in Game meanwhile: its files go one by one", 1, Damage::FolderMadeInGame,
       update::RecoveryResult::Finished, "Finished interrupted commit of version 9\n"},
      {"a staged folder lost", 1, Damage::StagedFolderLost, update::RecoveryResult::Discarded,
       "Discarded commit of version 9: staged file for pack1 is missing or damaged\n"},
      {"a file in a staged folder cut", 0, Damage::StagedFileCut, update::RecoveryResult::Discarded,
       "Discarded commit of version 9: staged file for pack1/d.dat is missing or damaged\n"},
      {"a file of a moved folder changed since", 1, Damage::MovedFileChanged, update::RecoveryResult::Discarded,
       "Discarded commit of version 9: staged file for pack0/c.dat is missing or damaged\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EmptyRoot();
    ASSERT_TRUE(WriteZip(Archive(), kFirstEntries));
    update::JournalRecord plan;
    plan.version = 9;
    ASSERT_EQ(update::StageResult::Staged,
              update::StageArchive(Archive().c_str(), game_.c_str(), staging_.c_str(), &plan));
    ASSERT_TRUE(update::WriteJournalFile(journal_.c_str(), plan));
    std::size_t done = 0;
    for (const update::JournalEntry& e : plan.entries) {
      if (e.kind != update::JournalEntryKind::Tree || done == c.moved) continue;
      ASSERT_TRUE(::MoveFileExA((staging_ + "\\" + update::StagedTreeName(e.name)).c_str(),
                                (Game() + "\\" + e.name).c_str(), 0));
      ++done;
    }
    ASSERT_EQ(c.moved, done);
    switch (c.damage) {
      case Damage::None: break;
      case Damage::StagedFolderLost: RemoveTree(staging_ + "\\tree\\pack1"); break;
      case Damage::StagedFileCut: ASSERT_TRUE(WriteWholeFile(staging_ + "\\tree\\pack1\\d.dat", "cut")); break;
      case Damage::MovedFileChanged: ASSERT_TRUE(WriteWholeFile(Game() + "\\pack0\\c.dat", "edited")); break;
      case Damage::FolderMadeInGame: ASSERT_TRUE(::CreateDirectoryA((Game() + "\\pack1").c_str(), nullptr)); break;
    }
    const Tree before = Snapshot(Game());
    std::int32_t version = 0;
    EXPECT_EQ(c.result, update::RecoverCommit(Place(), &version));
    EXPECT_EQ(c.log, Log());
    if (c.result == update::RecoveryResult::Finished) {
      EXPECT_EQ(9, version);
      EXPECT_EQ(kFirst, Snapshot(Game()));
      update::EndCommit(Place());
    } else {
      EXPECT_EQ(before, Snapshot(Game())) << "a damaged commit moves nothing more";
    }
    EXPECT_FALSE(Exists(journal_));
    EXPECT_FALSE(Exists(staging_));
  }
}

TEST_F(Staged, TargetHeldByAnotherProcessStopsTheCommitUntilItIsReleased) {
  Plant(Game(), kOld);
  ASSERT_TRUE(WriteZip(Archive(), kNewEntries));
  FileHeldElsewhere holder(TEST_FILE_HOLDER, Game() + "\\data\\b.pak", root_ + "\\held.ready");
  ASSERT_TRUE(holder.Holding());

  EXPECT_EQ(update::InstallResult::Blocked, Install(4));
  const std::string log = Log();
  EXPECT_EQ(0u, log.find("Failed to replace " + Game() + "/data/b.pak, GetLastError=")) << log;
  EXPECT_TRUE(Exists(journal_));
  EXPECT_EQ("new a", ReadWholeFile(Game() + "\\a.txt"));  // moved before the held one
  EXPECT_EQ("new b", ReadWholeFile(staging_ + "\\" + update::StagedFileName(2)));  // still staged

  std::int32_t version = 0;
  EXPECT_EQ(update::RecoveryResult::Blocked, update::RecoverCommit(Place(), &version));  // still held
  EXPECT_TRUE(Exists(journal_));

  holder.Release();
  EXPECT_EQ(update::RecoveryResult::Finished, update::RecoverCommit(Place(), &version));
  EXPECT_EQ(4, version);
  update::EndCommit(Place());
  Tree expected = kNew;
  EXPECT_EQ(expected, Snapshot(Game()));
}

TEST_F(Staged, RemovalsTakeWhatTheVersionDroppedOnlyAndAnInterruptedCommitFinishesThem) {
  Plant(Game(), kOld);
  Plant(Game(), {{"\\old-notes.txt", "v1"}, {"\\retired", "/"}, {"\\retired\\x.dat", "x"}, {"\\mods", "/"},
                 {"\\mods\\mine.txt", "the player's"}});
  ASSERT_TRUE(WriteZip(Archive(), kNewEntries));
  update::JournalRecord plan;
  plan.version = 3;
  ASSERT_EQ(update::StageResult::Staged,
            update::StageArchive(Archive().c_str(), game_.c_str(), staging_.c_str(), &plan));
  auto drop = [&](update::JournalEntryKind kind, const char* name) {
    update::JournalEntry entry;
    entry.kind = kind;
    entry.name = name;
    plan.entries.push_back(entry);
  };
  drop(update::JournalEntryKind::RemovedFile, "old-notes.txt");
  drop(update::JournalEntryKind::RemovedFile, "retired/x.dat");
  drop(update::JournalEntryKind::RemovedFile, "never-there.txt");
  drop(update::JournalEntryKind::RemovedDirectory, "retired/");
  drop(update::JournalEntryKind::RemovedDirectory, "mods/");  // not empty: a player's file is in it
  ASSERT_TRUE(update::WriteJournalFile(journal_.c_str(), plan));

  {
    FileHeldElsewhere holder(TEST_FILE_HOLDER, Game() + "\\old-notes.txt", root_ + "\\held.ready");
    ASSERT_TRUE(holder.Holding());
    EXPECT_EQ(update::CommitResult::Blocked, update::ApplyCommit(Place(), plan, false));
    EXPECT_NE(std::string::npos, Log().find("Failed to remove " + Game() + "/old-notes.txt, GetLastError="))
        << Log();
    EXPECT_TRUE(Exists(Game() + "\\old-notes.txt"));
  }
  ResetLog();
  std::int32_t version = 0;
  ASSERT_EQ(update::RecoveryResult::Finished, update::RecoverCommit(Place(), &version));
  EXPECT_EQ(3, version);
  EXPECT_EQ("Removed old-notes.txt\nRemoved retired/x.dat\nFinished interrupted commit of version 3\n", Log());
  Tree expected = kNew;
  expected["\\mods"] = "/";
  expected["\\mods\\mine.txt"] = "the player's";
  EXPECT_EQ(expected, Snapshot(Game()));

  ResetLog();
  ASSERT_EQ(update::RecoveryResult::Finished, update::RecoverCommit(Place(), &version));
  EXPECT_EQ("Finished interrupted commit of version 3\n", Log()) << "what is gone is not removed twice";
  update::EndCommit(Place());
}

// A real small volume: a 48 MiB file system that scripts/test-servers mounts
// when it runs as root.
TEST_F(Staged, FreeSpaceIsCheckedAgainstTheDeclaredSizesOnARealSmallVolume) {
  LAUNCHER_SMALL_VOLUME_OR_SKIP(small);
  ScratchDir onSmall(small);
  UseRoot(onSmall.Path());
  Plant(Game(), kOld);
  // Zeros pack small: the archive itself takes little of the volume.
  ASSERT_TRUE(WriteZip(Archive(), {{"a.txt", "new a", 0}, {"big.bin", std::string(40u << 20, '\0'), 0}}));
  EXPECT_EQ(update::InstallResult::NoSpace, Install());
  const std::string log = Log();
  EXPECT_EQ(0u, log.find("Not enough disk space: 58724352 bytes needed, ")) << log;
  EXPECT_EQ(kOld, Snapshot(Game()));
  EXPECT_FALSE(Exists(staging_));

  ResetLog();
  ASSERT_TRUE(WriteZip(Archive(), {{"a.txt", "new a", 0}, {"big.bin", std::string(8u << 20, '\0'), 0}}));
  EXPECT_EQ(update::InstallResult::Installed, Install());
  update::EndCommit(Place());
  EXPECT_EQ("new a", ReadWholeFile(Game() + "\\a.txt"));
  EXPECT_EQ("", Log());
}

// ---- retried transfers ----------------------------------------------------

// A size the caller expects, as a descriptor declares it.
class SizeCheck : public update::BodyCheck {
 public:
  explicit SizeCheck(std::size_t size) : size_(size) {}
  void Begin() override { got_ = 0; }
  bool OnBody(const char*, std::size_t size) override {
    got_ += size;
    return true;
  }
  Result Verdict() override { return got_ == size_ ? Result::Accepted : got_ < size_ ? Result::Short : Result::Wrong; }

 private:
  std::size_t size_;
  std::size_t got_ = 0;
};

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
  return bytes;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A transfer whose volume fills up while it runs (another program takes the
// rest of it): the failed write is said to be a full disk, is not tried
// again, and what arrived stays for a later resume. The log is on another
// volume here, so that its lines have room.
TEST_F(Staged, TransferThatFindsTheVolumeFullSaysSoAndKeepsWhatArrived) {
  LAUNCHER_SMALL_VOLUME_OR_SKIP(small);
  ScratchDir onSmall(small);
  ServedDir served;
  const std::string bytes = Noise(60u << 20, 9);  // more than the volume holds
  ASSERT_TRUE(WriteWholeFile(served / "big.bin", bytes));
  const std::string url = HttpUrl(served.UrlPath("big.bin"));
  const std::string target = onSmall / "big.bin.part";
  update::TransferLimits limits;
  limits.maxReceiveBytesPerSecond = 8 << 20;
  update::RetryTiming timing;
  timing.firstDelayMs = 20;
  SizeCheck check(bytes.size());
  bool diskFull = false;
  {
    testing_files::VolumeFiller filling(target, 1u << 20, onSmall / "filler.bin");
    EXPECT_FALSE(update::FetchFile(target.c_str(), url.c_str(), nullptr, limits, timing, &check, nullptr, &diskFull));
  }
  EXPECT_TRUE(diskFull);
  EXPECT_EQ("curl (" + url + ") error. CURLcode=Failed writing received data to disk/application\n"
            "Disk full while writing " + target + ": what arrived is kept\n", Log());
  const std::string kept = ReadWholeFile(target);
  EXPECT_GT(kept.size(), 1u << 20);
  EXPECT_EQ(bytes.substr(0, kept.size()), kept) << "what reached the disk is the body's start";
}

TEST_F(Staged, TransfersThatMayPassAreRetriedUntilTheyDo) {
  struct Case { const char* mode; int fails; bool check; bool ok; int retries; const char* failureText; };
  const Case cases[] = {
      {"drop", 2, false, true, 2, "CURLcode=Transferred a partial file\n"},
      {"stall", 1, false, true, 1, "CURLcode=Timeout was reached\n"},
      {"503", 1, true, true, 1, "Rejected body of ("},
      {"503", 1, false, true, 0, nullptr},  // without a check the error page is the file, as ever
      {"drop", 9, false, false, 3, "CURLcode=Transferred a partial file\n"},
  };
  update::TransferLimits limits;
  limits.connectTimeoutSeconds = 2;
  limits.lowSpeedSeconds = 2;
  update::RetryTiming timing;
  timing.firstDelayMs = 20;
  const std::size_t size = 200000;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + " x" + std::to_string(c.fails));
    ResetLog();
    const std::string key = "k" + std::to_string(::GetCurrentProcessId()) + "_" + std::to_string(n++);
    const std::string url = FixtureUrl("/flaky?key=" + key + "&mode=" + c.mode + "&fails=" + std::to_string(c.fails) +
                                       "&size=" + std::to_string(size));
    SizeCheck check(size);
    const std::string target = root_ + "\\out.bin";
    EXPECT_EQ(c.ok, update::FetchFile(target.c_str(), url.c_str(), nullptr, limits, timing, c.check ? &check : nullptr));
    const std::string log = Log();
    EXPECT_EQ(static_cast<std::size_t>(c.retries), Count(log, "Retrying (" + url + ") in ")) << log;
    if (c.retries > 0) {
      EXPECT_NE(std::string::npos, log.find(", retry " + std::to_string(c.retries) + " of 3\n")) << log;
    }
    if (c.failureText) {
      EXPECT_NE(std::string::npos, log.find(c.failureText)) << log;
    }
    if (c.ok && c.check) {
      EXPECT_EQ(Pattern(size), ReadWholeFile(target));
    }
    if (!c.ok) {
      const std::string last = "curl (" + url + ") error. CURLcode=Transferred a partial file\n";
      ASSERT_GE(log.size(), last.size());
      EXPECT_EQ(last, log.substr(log.size() - last.size())) << "ends as a failed transfer always has";
    }
    EXPECT_TRUE(update::DownloadFile((root_ + "\\count").c_str(), FixtureUrl("/flaky?count=1&key=" + key).c_str()));
    EXPECT_EQ(std::to_string(c.retries + 1), ReadWholeFile(root_ + "\\count")) << "requests the server saw";
  }
}

TEST_F(Staged, FailuresThatCannotPassAreNotRetriedAndErrorAnswersAre) {
  update::RetryTiming timing;
  timing.firstDelayMs = 20;
  const update::TransferLimits limits;
  struct Case { const char* label; std::string url; std::size_t expected; int retries; };
  ServedDir served;
  ASSERT_TRUE(WriteWholeFile(served / "other.bin", "0123456789AB"));
  const std::vector<Case> cases = {
      {"not-found page", HttpUrl("/no-such-file.bin"), 0, 0},
      {"a whole other file from a healthy server", HttpUrl(served.UrlPath("other.bin")), 10, 0},
      {"an error page instead of the file", FixtureUrl("/error500"), 10, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ResetLog();
    SizeCheck check(c.expected);
    EXPECT_FALSE(update::FetchFile((root_ + "\\x").c_str(), c.url.c_str(), nullptr, limits, timing,
                                   c.expected ? &check : nullptr));
    EXPECT_EQ(static_cast<std::size_t>(c.retries), Count(Log(), "Retrying (")) << Log();
  }
}

}  // namespace

namespace {

// A stop request that comes while the archive is staged ends the staging
// before the next entry: Game unchanged, nothing staged or journalled left,
// nothing logged (the worker logs the cancel).
struct StopWhenStaged {
  progress::ProgressTargets* targets;
  std::int64_t after;
};
unsigned __stdcall RequestStopOnceStaged(void* argument) {
  auto* watch = static_cast<StopWhenStaged*>(argument);
  for (int i = 0; i < 20000; ++i) {
    if (watch->targets->count.Unit() == progress::CountUnit::Files && watch->targets->count.done.load() >= watch->after)
      break;
    ::Sleep(1);
  }
  watch->targets->stop.Request();
  return 0;
}

TEST_F(Staged, StopRequestEndsTheStagingBetweenTwoEntries) {
  Plant(Game(), kOld);
  std::vector<ZipEntry> entries;
  for (int i = 0; i < 2000; ++i) entries.push_back({"data/n" + std::to_string(i) + ".dat", std::string(2048, 'n'), 0x20});
  ASSERT_TRUE(WriteZip(Archive(), entries));
  ResetLog();
  progress::ProgressTargets targets;
  StopWhenStaged watch{&targets, 100};
  base::Thread watcher;
  ASSERT_TRUE(watcher.Start(&RequestStopOnceStaged, &watch));
  const update::InstallResult result = update::InstallUpdate(Place(), Archive().c_str(), 2, &targets);
  watcher.Join();
  EXPECT_EQ(update::InstallResult::Stopped, result);
  EXPECT_GE(targets.count.done.load(), 100);
  EXPECT_LT(targets.count.done.load(), 2000) << "it went on to the end";
  EXPECT_EQ(kOld, Snapshot(Game()));
  EXPECT_FALSE(Exists(staging_));
  EXPECT_FALSE(Exists(journal_));
  EXPECT_EQ("", Log());
}

}  // namespace
