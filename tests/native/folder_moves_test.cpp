// Which folders the commit moves into Game whole: the shallowest folder Game
// lacks, found from the entries' names as Windows compares them, and none
// whose move as a whole could end otherwise than one move per entry; and the
// journal entries and staged places the staging gives the entries.
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "update/disk_name.h"
#include "update/install/folder_moves.h"

namespace {

using update::FolderMoveEntry;
using update::JournalEntry;
using update::JournalEntryKind;
using update::kNotMoved;

constexpr std::size_t N = kNotMoved;

FolderMoveEntry F(const std::string& name) { return {name, false}; }
FolderMoveEntry D(const std::string& name) { return {name, true}; }

TEST(FolderMoves, TheShallowestFolderGameLacksMovesWhole) {
  struct Case {
    const char* label;
    std::vector<FolderMoveEntry> entries;
    std::set<std::string> game;  // what Game holds, as keys
    std::vector<std::string> folders;
    std::vector<std::size_t> holder;
    std::size_t longest = 259;
  };
  const std::vector<Case> cases = {
      {"first installation, folders only implied, entries interleaved",
       {F("pack00/sub/f0.dat"), F("pack01/sub/f1.dat"), F("pack00/sub/f2.dat"), F("pack01/f3.dat"), F("top.txt")},
       {},
       {"pack00", "pack01"},
       {0, 1, 0, 1, N}},
      {"a new folder inside one Game has",
       {F("data/new/a"), F("data/old.txt"), F("data/new/deeper/b"), F("data/new2/c")},
       {"DATA"},
       {"data/new"},
       {0, N, 0, N}},
      {"names compared without case and with either separator; the first spelling names the folder",
       {F("Data\\New\\a"), F("data/new/b"), F("DATA/NEW\\c")},
       {"DATA"},
       {"Data\\New"},
       {0, 0, 0}},
      {"a folder Game has in another case is not new",
       {F("Pack/a"), F("pack/b")},
       {"PACK"},
       {},
       {N, N}},
      {"a trail byte equal to a backslash separates nothing",
       {F("\x81\x5c" "a"), F("\x81\x5c" "b"), F("\x95\x5c/x"), F("\x95\x5c\\y")},
       {},
       {"\x95\x5c"},
       {N, N, 0, 0}},
      {"directory entries: a folder's own entry and one only named by its attributes",
       {D("\xd7\xca\xd4\xb4/"), F("\xd7\xca\xd4\xb4/\x81\x5c.txt"), D("attr"), F("attr/x"), D("empty/")},
       {},
       {"\xd7\xca\xd4\xb4", "attr"},
       {0, 0, 1, 1, N}},
      {"one entry alone saves no move", {F("solo/a"), F("pair/a"), F("pair/b")}, {}, {"pair"}, {N, 0, 0}},
      {"names Windows reads otherwise keep their folders per entry",
       {F("x/./a"), F("x/b"), F("./y/a"), F("y/b"), F("z./a"), F("z/b"), F("z/c"), F("w//a"), F("w/b"), F("w/c"),
        F("v /a"), F("v/b"), F("v/c")},
       {},
       {},
       {N, N, N, N, N, N, N, N, N, N, N, N, N}},
      {"below a folder that has to be made level by level, a deeper one still moves",
       {F("q/r/./a"), F("q/s/a"), F("q/s/b")},
       {},
       {"q/s"},
       {N, 0, 0}},
      {"a name too long for the staging tree",
       {F("long/aaaaaaaaaaaa"), F("long/b"), F("long/sub/c"), F("long/sub/d")},
       {},
       {"long/sub"},
       {N, N, 0, 0},
       12},
      {"a file named twice, a file named like a folder",
       {F("d/a"), F("D/A"), F("d/b"), F("f"), F("f/a"), F("f/b"), F("g/h"), D("g/h/"), F("g/i"), D("k/"), D("k/"),
        F("k/a")},
       {},
       {"k"},
       {N, N, N, N, N, N, N, N, N, 0, 0, 0}},
      {"a folder whose name Game has as a file: the level below is looked at",
       {F("file/sub/a"), F("file/sub/b")},
       {"FILE"},
       {"file/sub"},
       {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<std::string> asked;
    const update::FolderMoves moves =
        update::PlanFolderMoves(c.entries, c.longest, [&](const std::string& folder) {
          asked.push_back(folder);
          return c.game.count(update::DiskNameKey(folder)) != 0;
        });
    EXPECT_EQ(c.folders, moves.folders);
    EXPECT_EQ(c.holder, moves.holder);
    // Game is asked of every folder once, and never below a missing one.
    std::set<std::string> keys;
    for (const std::string& folder : asked) {
      EXPECT_TRUE(keys.insert(update::DiskNameKey(folder)).second) << "asked twice: " << folder;
      const std::string key = update::DiskNameKey(folder);
      const std::size_t parent = key.rfind('/');
      if (parent != std::string::npos) {
        EXPECT_EQ(1u, c.game.count(key.substr(0, parent))) << "asked below a missing folder: " << folder;
      }
    }
  }
}

TEST(FolderMoves, TheLayoutStagesMovedFoldersUnderTheirNamesAndJournalsThemBeforeTheirFirstEntry) {
  const std::vector<FolderMoveEntry> names = {F("a.txt"), F("pack/x"), D("pack/sub/"), F("solo/y"), F("pack/z")};
  update::StagingLayout layout(update::PlanFolderMoves(names, 259, [](const std::string&) { return false; }));
  std::vector<JournalEntry> plan;
  std::vector<std::string> places;
  for (std::size_t i = 0; i < names.size(); ++i) {
    JournalEntry planned;
    planned.name = names[i].name;
    planned.kind = names[i].directory ? JournalEntryKind::Directory : JournalEntryKind::File;
    planned.staged = names[i].directory ? 0 : static_cast<std::uint32_t>(i);
    planned.size = 10 + i;
    places.push_back(layout.Place(&planned, &plan));
    plan.push_back(planned);
  }
  const std::vector<std::string> expectedPlaces = {update::StagedFileName(0), "tree\\pack/x", "tree\\pack/sub/",
                                                   update::StagedFileName(3), "tree\\pack/z"};
  EXPECT_EQ(expectedPlaces, places);
  struct Expected { JournalEntryKind kind; const char* name; std::uint64_t size; };
  const Expected expected[] = {{JournalEntryKind::File, "a.txt", 10},        {JournalEntryKind::Tree, "pack", 0},
                               {JournalEntryKind::TreeFile, "pack/x", 11},    {JournalEntryKind::TreeDirectory, "pack/sub/", 12},
                               {JournalEntryKind::File, "solo/y", 13},       {JournalEntryKind::TreeFile, "pack/z", 14}};
  ASSERT_EQ(std::size(expected), plan.size());
  for (std::size_t i = 0; i < plan.size(); ++i) {
    EXPECT_EQ(expected[i].kind, plan[i].kind) << i;
    EXPECT_EQ(expected[i].name, plan[i].name) << i;
    if (plan[i].kind != JournalEntryKind::Tree && plan[i].kind != JournalEntryKind::TreeDirectory) {
      EXPECT_EQ(expected[i].size, plan[i].size) << i;
    }
  }
  EXPECT_EQ(3u, plan[4].staged);
}

}  // namespace
