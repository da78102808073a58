// Archives whose names are UTF-8, as archivers other than the pack tool make
// them: 7-Zip, bsdtar and Python's zipfile (run at build time over a client
// folder, tests/update/make-name-archives) set the UTF-8 flag, and an archive
// written here names its files with Unicode Path fields. Each installs, in
// place and staged, under the names in code page 936 that the folder's own
// files have, and whole runs verify and mend the client under those names.
// A name that code page 936 cannot represent, or that its conversion leads
// outside Game or past the path buffer, fails before anything is written.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/code_page_936_cases.h"
#include "tests/support/zip_extra_fields.h"
#include "tests/update/launcher_folder.h"
#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"
#include "update/install/archive_install.h"
#include "update/verify/client_verify.h"
#include "update/install/code_page_936.h"
#include "update/install/commit.h"
#include "update/download_log_testing.h"
#include "update/install/entry_name_encoding.h"

namespace {

using namespace testing_update;
using Tree = std::map<std::string, std::string>;  // path below the root -> content ("/" for a directory)

// The client folder's names, in code page 936 as the launcher names files.
const char kGuide[] = "\xd3\xce\xcf\xb7\xcb\xb5\xc3\xf7.txt";      // 游戏说明.txt
const char kData[] = "\xca\xfd\xbe\xdd";                           // 数据
const char kMap[] = "\xca\xfd\xbe\xdd\\sub\\\xb5\xd8\xcd\xbc.map";  // 数据\sub\地图.map
// Their UTF-8 forms, as the archivers store them.
const char kGuideUtf8[] = "\xe6\xb8\xb8\xe6\x88\x8f\xe8\xaf\xb4\xe6\x98\x8e.txt";
const char kDataUtf8[] = "\xe6\x95\xb0\xe6\x8d\xae/";
const char kMapUtf8[] = "\xe6\x95\xb0\xe6\x8d\xae/sub/\xe5\x9c\xb0\xe5\x9b\xbe.map";

const char* const kArchivers[] = {"7z.zip", "bsdtar.zip", "python.zip"};

Tree Snapshot(const std::string& root) {
  Tree tree;
  testing_files::VisitTree(root, [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    tree[relative] = directory ? "/" : ReadWholeFile(root + "\\" + relative);
  });
  return tree;
}

std::string Fixture(const std::string& name) { return std::string(NAME_ARCHIVES) + "\\" + name; }

// The client folder the archivers packed, read through the ANSI file calls:
// its names are the ones the installation must give the files.
Tree ClientFolder() { return Snapshot(Fixture("client")); }

// The same client as an archive written here, with placeholder names in the
// headers and the real ones in Unicode Path fields whose CRCs match them.
std::vector<ZipEntry> UnicodePathEntries(const Tree& client) {
  const std::string guide = client.at(kGuide);
  const std::string map = client.at(kMap);
  const auto named = [](const std::string& stored, const std::string& utf8, const std::string& data,
                        std::uint32_t attributes) {
    ZipEntry entry{stored, data, attributes};
    entry.extra = testing_zip::UnicodePathFieldFor(stored, utf8);
    return entry;
  };
  return {{"readme.txt", client.at("readme.txt"), 0x20},
          named("_____.txt", kGuideUtf8, guide, 0x20),
          named("__/", kDataUtf8, "", 0x10),
          named("__/sub/__.map", kMapUtf8, map, 0x20)};
}

class Names : public LauncherFolderTest {
 protected:
  void FreshGame() {
    RemoveTree(Game());
    ASSERT_TRUE(::CreateDirectoryA(Game().c_str(), nullptr));
  }

};

TEST(CodePage936OnWindows, ConvertsOrRefusesWholeAsIconvDoes) {
  for (const testing_names::CodePage936Case& c : testing_names::CodePage936Cases()) {
    SCOPED_TRACE(c.label);
    std::string out = "left over";
    EXPECT_EQ(c.codePage936 != nullptr, update::Utf8ToCodePage936(c.utf8, &out));
    EXPECT_EQ(c.codePage936 != nullptr ? c.codePage936 : "", out);
  }
}

TEST_F(Names, ArchivesOfOtherArchiversInstallAndVerifyUnderTheirNames) {
  const Tree client = ClientFolder();
  ASSERT_EQ(5u, client.size()) << "the archivers' client folder is missing (make-name-archives)";
  ASSERT_EQ(1u, client.count(kMap));
  ASSERT_TRUE(WriteZip(dir_ / "unicode-path.zip", UnicodePathEntries(client)));
  std::vector<std::string> archives;
  for (const char* archiver : kArchivers) archives.push_back(Fixture(archiver));
  archives.push_back(dir_ / "unicode-path.zip");
  for (const std::string& archive : archives) {
    SCOPED_TRACE(archive);
    ASSERT_TRUE(Exists(archive)) << "made at build time by tests/update/make-name-archives";
    ASSERT_TRUE(::CopyFileA(archive.c_str(), Archive().c_str(), FALSE));
    FreshGame();
    ResetLog();
    ASSERT_EQ(update::InstallResult::Installed, update::InstallUpdate(Place(), Archive().c_str(), 2)) << Log();
    update::EndCommit(Place());
    EXPECT_EQ(client, Snapshot(Game()));
    EXPECT_TRUE(Exists(Game() + "\\" + kGuide));
    EXPECT_TRUE(IsDirectory(Game() + "\\" + kData));

    const std::string inPlace = dir_ / "InPlace";
    RemoveTree(inPlace);
    ASSERT_TRUE(::CreateDirectoryA(inPlace.c_str(), nullptr));
    ASSERT_TRUE(update::InstallArchive(inPlace.c_str(), Archive().c_str()));
    EXPECT_EQ(client, Snapshot(inPlace));
    EXPECT_EQ("", Log());

    const update::VerifyReport report = update::VerifyClient(game_.c_str(), Archive().c_str());
    EXPECT_EQ(update::VerifyOutcome::Verified, report.outcome);
    EXPECT_EQ(3u, report.filesChecked);
    EXPECT_TRUE(report.damaged.empty()) << report.damaged.front().name;
  }
}

TEST_F(Names, NamesThatCannotBeOnDiskFailBeforeAnythingIsWritten) {
  const std::string hangul = "\xe3\x84\xb1.txt";        // ㄱ.txt: code page 936 has no ㄱ
  const std::string emoji = "a\xf0\x9f\x98\x80.txt";    // U+1F600
  const std::string longName(255, 'x');
  struct Case {
    const char* label;
    ZipEntry refused;
    std::string logged;  // the stored name
  };
  const auto field = [](const std::string& stored, const std::string& utf8) {
    ZipEntry entry{stored, "no", 0x20};
    entry.extra = testing_zip::UnicodePathFieldFor(stored, utf8);
    return entry;
  };
  const std::vector<Case> cases = {
      {"flagged, a character code page 936 lacks", {hangul, "no", 0x20, false, update::kUtf8NameFlag}, hangul},
      {"flagged emoji", {emoji, "no", 0x20, false, update::kUtf8NameFlag}, emoji},
      {"flagged, not UTF-8", {kGuide, "no", 0x20, false, update::kUtf8NameFlag}, kGuide},
      {"field, a character code page 936 lacks", field("hangul.txt", hangul), "hangul.txt"},
      {"field leading outside", field("escaped.txt", "../escaped.txt"), "escaped.txt"},
      {"field too long for the path", field("long.txt", longName), "long.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FreshGame();
    ASSERT_TRUE(WriteWholeFile(Game() + "\\keep.txt", "mine"));
    ASSERT_TRUE(WriteZip(Archive(), {{"first.txt", "1", 0x20}, {kGuideUtf8, "2", 0x20, false, update::kUtf8NameFlag},
                                     c.refused}));
    const Tree before = Snapshot(Game());
    const std::string line = "Refused archive entry (" + c.logged + ")\n";
    ResetLog();
    EXPECT_EQ(update::InstallResult::Failed, update::InstallUpdate(Place(), Archive().c_str(), 2));
    EXPECT_EQ(line, Log());
    EXPECT_EQ(before, Snapshot(Game()));
    EXPECT_FALSE(Exists(staging_));
    EXPECT_FALSE(Exists(journal_));
    EXPECT_FALSE(Exists(dir_ / "escaped.txt"));

    ResetLog();
    EXPECT_FALSE(update::InstallArchive(game_.c_str(), Archive().c_str()));
    EXPECT_EQ(line, Log());
    EXPECT_EQ(before, Snapshot(Game()));

    const update::VerifyReport report = update::VerifyClient(game_.c_str(), Archive().c_str());
    EXPECT_EQ(update::VerifyOutcome::EntryRefused, report.outcome);
    EXPECT_EQ(c.logged, report.refusedName);
  }
}

// Whole runs: the first installs the client and verifies it, the second
// finds two files damaged and mends them, each archive's names as they are.
class NamesRepair : public Worker {};

TEST_F(NamesRepair, VerificationAndRepairFindTheFilesUnderTheirNames) {
  const Tree client = ClientFolder();
  ASSERT_EQ(5u, client.size()) << "the archivers' client folder is missing (make-name-archives)";
  std::size_t clientBytes = 0;
  for (const auto& item : client)
    if (item.second != "/") clientBytes += item.second.size();
  const std::string read = std::to_string(clientBytes);
  const std::string changedRead = std::to_string(clientBytes - client.at(kMap).size());
  for (const char* archiver : kArchivers) {
    SCOPED_TRACE(archiver);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    const std::string archive = Serve(archiver, ReadWholeFile(Fixture(archiver)));
    const std::string descriptor = Serve(std::string(archiver) + ".cfg", Descriptor(1, archive));
    repairOnEntry_ = true;
    const Observed installed = Run(descriptor);
    EXPECT_TRUE(installed.boxes.empty()) << Log();
    EXPECT_EQ("Verified 3 files (" + read + " bytes): 0 missing or different\n" + kStarted, Log());
    EXPECT_EQ(1, InstalledVersion());
    ASSERT_FALSE(WaitForFile(Game() + "\\launch.txt", 10000).empty());
    Tree game = Snapshot(Game());
    game.erase("launch.txt");
    game.erase("TLVR.exe");
    EXPECT_EQ(client, game);

    ASSERT_TRUE(::DeleteFileA((Game() + "\\" + kMap).c_str()));
    ASSERT_TRUE(WriteWholeFile(Game() + "\\" + kGuide, std::string(client.at(kGuide).size(), '?')));
    ASSERT_TRUE(::DeleteFileA((Game() + "\\launch.txt").c_str()));
    update::ResetDownloadLogForTesting();
    const Observed mended = Run(descriptor);
    EXPECT_TRUE(mended.boxes.empty()) << Log();
    EXPECT_EQ("Verified 3 files (" + changedRead + " bytes): 2 missing or different\nMended 2 of 2 files\n" +
                  kStarted,
              Log());
    ASSERT_FALSE(WaitForFile(Game() + "\\launch.txt", 10000).empty());
    game = Snapshot(Game());
    game.erase("launch.txt");
    game.erase("TLVR.exe");
    EXPECT_EQ(client, game);
  }
}

}  // namespace
