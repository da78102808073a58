// Whole worker runs that repair the client: an installed client is damaged on
// disk, then a run asked to repair verifies Game against the archive kept in
// Temp and mends what differs, fetching the archive again only when the kept
// one is gone or not the installed one, and leaving the player's own files.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/update/worker_harness.h"
#include "update/trust/archive_digest.h"

namespace {

using namespace testing_update;

// 修复游戏文件失败，请重新启动
const char kRepairFailed[] =
    "\xd0\xde\xb8\xb4\xd3\xce\xcf\xb7\xce\xc4\xbc\xfe\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";

const std::vector<Stage> kMendStages = {{0, 25}, {4, 75}, {2, 75}, {3, 100}};
const std::vector<Stage> kIntactStages = {{0, 25}, {4, 75}, {3, 100}};

// Last-write times of every file below `root`, by path relative to it.
std::map<std::string, ULONGLONG> WriteTimes(const std::string& root) {
  std::map<std::string, ULONGLONG> times;
  testing_files::VisitTree(root, [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return;
    times[relative] =
        (static_cast<ULONGLONG>(found.ftLastWriteTime.dwHighDateTime) << 32) | found.ftLastWriteTime.dwLowDateTime;
  });
  return times;
}

class Repair : public Worker {
 protected:
  // Version 1 of a client: the stub game and three data files, one of them
  // larger than a read block.
  void SetUp() override {
    Worker::SetUp();
    const std::string stub = ReadWholeFile(TEST_GAME_STUB);
    ASSERT_FALSE(stub.empty());
    std::string large(3u << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 131) ^ (i >> 9));
    entries_ = {{"data/", "", 0x10, true},
                {"data/a.pak", "first pack", 0x20},
                {"data/b.pak", "second pack, a little longer", 0x20},
                {"data/large.pak", large, 0x20},
                {"TLVR.exe", stub, 0x20}};
    archiveUrl_ = ServeZip("client.zip", entries_);
    archiveBytes_ = ReadWholeFile(served_ / "client.zip");
  }

  std::string DescriptorFor(bool withSha256) const {
    std::string text = Descriptor(1, archiveUrl_);
    if (withSha256)
      text += "Sha256=" + Sha256Hex(archiveBytes_) + "\r\nSize=" + std::to_string(archiveBytes_.size()) + "\r\n";
    return text;
  }

  // The first run installs version 1 as any update does.
  void InstallClient(bool withSha256 = true) {
    versionFile_ = Serve("version.cfg", DescriptorFor(withSha256));
    const Observed seen = Run(versionFile_);
    ASSERT_TRUE(ShownInOrder(kUpdateStages, seen.stages));
    ASSERT_TRUE(seen.boxes.empty()) << Log();
    ASSERT_EQ(1, InstalledVersion());
    ASSERT_EQ(Sha256Hex(archiveBytes_), Recorded("Sha256"));
    ASSERT_TRUE(GameStarted());  // its record is written before the next run
    ASSERT_TRUE(::DeleteFileA((Game() + "\\launch.txt").c_str()));
    ASSERT_EQ(1, ArchiveRequests());
  }

  Observed RunRepair() {
    parameters_.RequestRepair();
    update::ResetDownloadLogForTesting();
    return Run(versionFile_);
  }

  std::string Recorded(const char* key) const {
    char value[128] = {};
    ::GetPrivateProfileStringA("Launcher", key, "", value, sizeof value, At("install.cfg").c_str());
    return value;
  }

  int ArchiveRequests() const {
    const std::string log = ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
    const std::string path = served_.UrlPath("client.zip");
    int count = 0;
    for (std::size_t at = log.find(path); at != std::string::npos; at = log.find(path, at + 1)) ++count;
    return count;
  }

  std::string Installed(const std::string& name) const { return ReadWholeFile(Game() + "\\" + name); }
  std::string Entry(const std::string& name) const {
    for (const ZipEntry& e : entries_)
      if (e.name == name) return e.data;
    return "";
  }
  void ExpectWholeClient() const {
    for (const char* name : {"data/a.pak", "data/b.pak", "data/large.pak", "TLVR.exe"}) {
      std::string path = name;
      for (char& c : path)
        if (c == '/') c = '\\';
      EXPECT_TRUE(Installed(path) == Entry(name)) << name;
    }
  }
  bool GameStarted() const { return !WaitForFile(Game() + "\\launch.txt", 10000).empty(); }

  std::vector<ZipEntry> entries_;
  std::string archiveUrl_;
  std::string archiveBytes_;
  std::string versionFile_;
};

TEST_F(Repair, DamagedFilesAreMendedFromTheKeptArchiveAndThePlayersOwnAreLeft) {
  ASSERT_NO_FATAL_FAILURE(InstallClient());
  ASSERT_TRUE(::DeleteFileA((Game() + "\\data\\a.pak").c_str()));
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\b.pak", "second"));  // truncated
  std::string large = Installed("data\\large.pak");
  large[large.size() / 2] = static_cast<char>(large[large.size() / 2] ^ 0x20);  // one byte changed
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\large.pak", large));
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\my-notes.txt", "the player's own"));

  const Observed seen = RunRepair();
  EXPECT_TRUE(seen.closeRequested);
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_TRUE(ShownInOrder(kMendStages, seen.stages));
  ExpectWholeClient();
  EXPECT_EQ("the player's own", Installed("data\\my-notes.txt"));
  const std::string read = std::to_string(Entry("TLVR.exe").size() + Entry("data/large.pak").size());
  EXPECT_EQ("Verified 4 files (" + read + " bytes): 3 missing or different\nMended 3 of 3 files\n" + kStarted, Log());
  EXPECT_TRUE(GameStarted());
  EXPECT_EQ(1, ArchiveRequests());  // nothing fetched but the descriptor
  EXPECT_EQ(1, InstalledVersion());
  EXPECT_EQ(Sha256Hex(archiveBytes_), Recorded("Sha256"));
}

TEST_F(Repair, IntactClientIsLeftAsItIs) {
  ASSERT_NO_FATAL_FAILURE(InstallClient());
  ASSERT_TRUE(WriteWholeFile(Game() + "\\save.dat", "progress"));
  const std::map<std::string, ULONGLONG> before = WriteTimes(Game());
  ::Sleep(50);  // a rewrite would carry a later time

  const Observed seen = RunRepair();
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_TRUE(ShownInOrder(kIntactStages, seen.stages));
  std::size_t read = 0;
  for (const ZipEntry& e : entries_) read += e.data.size();
  EXPECT_EQ("Verified 4 files (" + std::to_string(read) + " bytes): 0 missing or different\n" + std::string(kStarted),
            Log());
  EXPECT_TRUE(GameStarted());
  std::map<std::string, ULONGLONG> after = WriteTimes(Game());
  after.erase("launch.txt");  // written by the started stub game
  EXPECT_EQ(before, after);
  EXPECT_EQ(1, ArchiveRequests());
}

TEST_F(Repair, KeptArchiveGoneIsFetchedOnceAndTheClientMended) {
  struct Case {
    const char* label;
    bool descriptorNamesTheArchive;
    std::vector<Stage> stages;
    bool wholeUpdate;  // without a digest to compare, the client is updated as a whole
  };
  const Case cases[] = {
      {"the descriptor names the installed archive", true, {{0, 25}, {4, 75}, {1, 75}, {4, 75}, {2, 75}, {3, 100}},
       false},
      {"the descriptor names no digest", false, {{0, 25}, {4, 75}, {1, 75}, {2, 75}, {4, 75}, {3, 100}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(dir.Path());
    const int requestsBefore = ArchiveRequests();
    versionFile_ = Serve("version.cfg", DescriptorFor(c.descriptorNamesTheArchive));
    // Installed as by a run of the same descriptor, then the kept archive is lost.
    {
      const Observed installed = Run(versionFile_);
      ASSERT_TRUE(installed.boxes.empty()) << Log();
    }
    ASSERT_TRUE(GameStarted());
    ASSERT_TRUE(::DeleteFileA((Game() + "\\launch.txt").c_str()));
    ASSERT_TRUE(::DeleteFileA(At("Temp\\ClientContent").c_str()));
    ASSERT_TRUE(::DeleteFileA((Game() + "\\data\\b.pak").c_str()));

    const Observed seen = RunRepair();
    EXPECT_TRUE(seen.boxes.empty()) << Log();
    EXPECT_TRUE(ShownInOrder(c.stages, seen.stages));
    ExpectWholeClient();
    EXPECT_EQ(requestsBefore + 2, ArchiveRequests());  // the install, then once for the repair
    const std::string log = Log();
    EXPECT_EQ(0u, log.find("Verified 4 files")) << log;
    EXPECT_NE(std::string::npos, log.find(c.wholeUpdate ? "): 0 missing or different\n"
                                                        : "): 1 missing or different\nMended 1 of 1 files\n"))
        << log;
    EXPECT_TRUE(GameStarted());
    EXPECT_EQ(Sha256Hex(archiveBytes_), Recorded("Sha256"));
  }
}

TEST_F(Repair, FileHeldOpenStopsTheMendAndTheNextPlainStartFinishesIt) {
  ASSERT_NO_FATAL_FAILURE(InstallClient());
  std::string changed = Entry("data/a.pak");
  changed[0] = 'F';
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\a.pak", changed));
  ASSERT_TRUE(::DeleteFileA((Game() + "\\data\\b.pak").c_str()));
  const std::string recordBefore = ReadWholeFile(At("install.cfg"));
  const std::string journal = At("Temp\\commit.journal");
  {
    // Another program holds the file open and shares it with no one.
    const HANDLE held = ::CreateFileA((Game() + "\\data\\a.pak").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    repairOnEntry_ = true;
    update::ResetDownloadLogForTesting();
    const Observed seen = Run(versionFile_);
    ::CloseHandle(held);
    EXPECT_EQ(std::vector<std::string>{kRepairFailed}, seen.boxes);
    EXPECT_TRUE(seen.closeRequested);
    const std::string log = Log();
    // The commit stops at the first file of the plan (archive order), so
    // nothing of it is in Game yet.
    EXPECT_NE(std::string::npos, log.find("): 2 missing or different\nFailed to replace ")) << log;
    EXPECT_NE(std::string::npos, log.find("a.pak, GetLastError=")) << log;
    EXPECT_NE(std::string::npos, log.find("\nMended 0 of 2 files\n")) << log;
    EXPECT_EQ(std::string::npos, log.find(kStarted)) << log;
    EXPECT_TRUE(WaitForFile(Game() + "\\launch.txt", 500).empty());
    EXPECT_EQ(recordBefore, ReadWholeFile(At("install.cfg")));
    EXPECT_EQ(changed, Installed("data\\a.pak"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(journal.c_str())) << "the journal must stay";
  }
  // A start that does not ask for a repair finishes the interrupted mend.
  repairOnEntry_ = false;
  update::ResetDownloadLogForTesting();
  const Observed later = Run(versionFile_);
  EXPECT_TRUE(later.boxes.empty()) << Log();
  EXPECT_EQ(std::string::npos, Log().find("Verified")) << Log();
  EXPECT_NE(std::string::npos, Log().find("Finished interrupted commit of version 1\n")) << Log();
  ExpectWholeClient();
  EXPECT_TRUE(GameStarted());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesA(journal.c_str()));
  EXPECT_EQ(1, InstalledVersion());
  EXPECT_EQ(Sha256Hex(archiveBytes_), Recorded("Sha256"));
  EXPECT_EQ(1, ArchiveRequests());
}

TEST_F(Repair, RepairOnTheCommandLineVerifiesTheNextEntry) {
  ASSERT_NO_FATAL_FAILURE(InstallClient());
  ASSERT_TRUE(::DeleteFileA((Game() + "\\data\\a.pak").c_str()));
  update::ResetDownloadLogForTesting();
  repairOnEntry_ = true;  // repair=1: the run is asked by the setup, not by the page
  const Observed seen = Run(versionFile_);
  EXPECT_TRUE(ShownInOrder(kMendStages, seen.stages));
  EXPECT_EQ(Entry("data/a.pak"), Installed("data\\a.pak"));
  EXPECT_TRUE(GameStarted());
}

}  // namespace
