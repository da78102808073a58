#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "update/directory_levels.h"
#include "update/install/entry_name.h"
#include "update/transfer_rules.h"
#include "update/update_paths.h"

namespace {

using update::LastLevel;

// GBK "\xb1\x5c" is one character whose second byte is the "\" byte.
const char kGbkWithBackslashByte[] = "\xd7\xca\xd4\xb4\xb1\x5c";

TEST(EntryName, DirectoryByTrailingSeparatorOrAttributeBit) {
  struct Case { const char* name; std::uint32_t attributes; bool directory; };
  const Case cases[] = {
      {"data/", 0, true},
      {"data\\", 0, true},
      {"data", 0x10, true},
      {"data", 0x30, true},                      // directory + archive bit
      {"data/", (040755u << 16) | 0x10, true},   // Unix mode in the upper half
      {"data", 040755u << 16, false},            // no directory bit, no separator
      {"data/a.pak", 0x20, false},
      {"bin/readme", 0, false},
      {kGbkWithBackslashByte, 0, false},         // ends in a trail byte, not a separator
      {"", 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.directory, update::IsDirectoryEntry(c.name, c.attributes)) << c.name << " " << c.attributes;
}

TEST(EntryName, ConfinementRejectsEveryWayOut) {
  const char* refused[] = {"../x", "..\\x", "/x", "\\x", "C:x", "C:\\x", "a/../../x", "x:stream",
                           "a/..", "..", "a/.../b", "a/.. /b", "", "\\\\server\\share\\x",
                           // device names, whatever the case, extension or level
                           "nul", "CON", "a/aux.txt", "Com1", "lpt9.log", "prn /x", "data/nul.pak"};
  for (const char* name : refused) EXPECT_FALSE(update::IsConfinedEntryName(name)) << name;
  const char* accepted[] = {"x", "./x", "a/b/c.txt", "a..b/c", ".hidden", "a/.x/", "pack.new/",
                            "LICENSE", kGbkWithBackslashByte, "\xb1\x5c..\\x",
                            "null", "console.cfg", "com0", "com10", "lpt", "auxiliary/x", "a.nul"};
  for (const char* name : accepted) EXPECT_TRUE(update::IsConfinedEntryName(name)) << name;
}

std::vector<std::string> Levels(const update::DirectoryLevels& levels) {
  std::vector<std::string> out;
  for (std::size_t i = 0; i < levels.count; ++i) out.emplace_back(levels.path, levels.levelEnds[i]);
  return out;
}

TEST(DirectoryLevels, LevelsAboveFilesAndOfDirectories) {
  struct Case {
    const char* path;
    LastLevel last;
    std::size_t rootLength;
    std::vector<std::string> levels;
  };
  const Case cases[] = {
      {"C:\\g\\Game/data/a.pak", LastLevel::FileName, 3, {"C:\\g\\", "C:\\g\\Game\\", "C:\\g\\Game\\data\\"}},
      {"C:\\g/bin/readme", LastLevel::FileName, 3, {"C:\\g\\", "C:\\g\\bin\\"}},
      {"C:\\g/LICENSE", LastLevel::FileName, 3, {"C:\\g\\"}},
      {"C:\\g/pack.new/", LastLevel::Directory, 3, {"C:\\g\\", "C:\\g\\pack.new\\"}},
      {"C:\\g/data", LastLevel::Directory, 3, {"C:\\g\\", "C:\\g\\data\\"}},
      {"g//./a///b.txt", LastLevel::FileName, 0, {"g\\", "g\\a\\"}},
      {"./g/a", LastLevel::Directory, 0, {"g\\", "g\\a\\"}},
      {"\\\\srv\\share\\Game/a/b", LastLevel::FileName, 12, {"\\\\srv\\share\\Game\\", "\\\\srv\\share\\Game\\a\\"}},
      {"//srv/share/x", LastLevel::Directory, 12, {"\\\\srv\\share\\x\\"}},
      {"\\top\\f.txt", LastLevel::FileName, 1, {"\\top\\"}},
      {"C:rel\\f", LastLevel::FileName, 2, {"C:rel\\"}},
      {"f.txt", LastLevel::FileName, 0, {}},
      {"C:\\", LastLevel::Directory, 3, {}},
  };
  for (const Case& c : cases) {
    update::DirectoryLevels levels;
    ASSERT_TRUE(update::ListDirectoryLevels(c.path, c.last, &levels)) << c.path;
    EXPECT_EQ(c.rootLength, levels.rootLength) << c.path;
    EXPECT_EQ(c.levels, Levels(levels)) << c.path;
  }
}

TEST(DirectoryLevels, DoubleByteNameIsOneLevel) {
  const std::string dir = std::string("G/") + kGbkWithBackslashByte + "/f.txt";
  update::DirectoryLevels levels;
  ASSERT_TRUE(update::ListDirectoryLevels(dir.c_str(), LastLevel::FileName, &levels));
  EXPECT_EQ((std::vector<std::string>{"G\\", std::string("G\\") + kGbkWithBackslashByte + "\\"}), Levels(levels));
}

TEST(DirectoryLevels, LevelEndingInALoneLeadByteIsRefused) {
  // "\xbc" then "/" is two characters; written as "\xbc\\" it would be one,
  // and "a\xbc" and "b" one level.
  update::DirectoryLevels levels;
  EXPECT_FALSE(update::ListDirectoryLevels("C:\\g\\a\xbc/b/c.pak", LastLevel::FileName, &levels));
  EXPECT_EQ(0u, levels.count);
  EXPECT_FALSE(update::ListDirectoryLevels("C:\\g\\%a.t\xbc", LastLevel::Directory, &levels));
  EXPECT_FALSE(update::ListDirectoryLevels("\\\\srv\xbc/share/x", LastLevel::Directory, &levels));
  // A whole double-byte character before the separator stays fine.
  ASSERT_TRUE(update::ListDirectoryLevels("C:\\g\\a\xbc\xa1/b/c.pak", LastLevel::FileName, &levels));
  EXPECT_EQ((std::vector<std::string>{"C:\\g\\", "C:\\g\\a\xbc\xa1\\", "C:\\g\\a\xbc\xa1\\b\\"}), Levels(levels));
  // The file level itself is not written with a separator after it.
  EXPECT_TRUE(update::ListDirectoryLevels("C:\\g\\a\xbc", LastLevel::FileName, &levels));
}

TEST(DirectoryLevels, PathThatDoesNotFitIsRefused) {
  std::string path = "C:\\a";
  while (path.size() < 259) path += "/a";  // 259 bytes; the last level gains a "\\"
  update::DirectoryLevels levels;
  EXPECT_FALSE(update::ListDirectoryLevels(path.c_str(), LastLevel::Directory, &levels));
  EXPECT_EQ(0u, levels.count);
  const std::string many(2000, '/');
  EXPECT_TRUE(update::ListDirectoryLevels((many + "x").c_str(), LastLevel::Directory, &levels));
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "a/";
  EXPECT_FALSE(update::ListDirectoryLevels(deep.c_str(), LastLevel::Directory, &levels));
}

TEST(TransferRules, Percentages) {
  const std::int32_t lowest = std::numeric_limits<std::int32_t>::min();
  EXPECT_EQ(lowest, update::TransferPercent(0, 0));       // no total yet
  EXPECT_EQ(lowest, update::TransferPercent(500, 0));     // server sent no length
  EXPECT_EQ(0, update::TransferPercent(0, 1000));
  EXPECT_EQ(33, update::TransferPercent(1, 3));
  EXPECT_EQ(100, update::TransferPercent(1000, 1000));
  EXPECT_EQ(50, update::TransferPercent(std::int64_t{3} << 40, std::int64_t{6} << 40));  // beyond 32 bits
  EXPECT_EQ(0, update::InstallPercent(0, 7));
  EXPECT_EQ(85, update::InstallPercent(6, 7));            // never 100 inside the loop
  EXPECT_EQ(0, update::InstallPercent(0, 0));
}

TEST(TransferRules, NotFoundOnlyBeforeTheFirstNul) {
  const std::string page = "<html><title>404 Not Found</title></html>";
  EXPECT_EQ(page.size(), update::NotFoundTextLength(page.data(), page.size()));
  const std::string hidden = std::string("abc\0", 4) + "404 Not Found";
  EXPECT_EQ(0u, update::NotFoundTextLength(hidden.data(), hidden.size()));
  const std::string before = std::string("404 Not Found\0", 14) + "tail";
  EXPECT_EQ(13u, update::NotFoundTextLength(before.data(), before.size()));
  EXPECT_EQ(0u, update::NotFoundTextLength("404 Not Foun", 12));
  EXPECT_EQ(0u, update::NotFoundTextLength("404 Not Found", 12));  // only the piece's bytes count
}

TEST(UpdatePaths, TickUrlAndBounds) {
  char out[update::kPathSize];
  ASSERT_TRUE(update::ComposeTickUrl(out, sizeof out, "http://h/v.cfg?a=1", 1234));
  EXPECT_STREQ("http://h/v.cfg?a=1?1234", out);
  ASSERT_TRUE(update::ComposeTickUrl(out, sizeof out, "", 0xFFFFFFFFu));
  EXPECT_STREQ("?-1", out);
  const std::string longBase(250, 'u');
  EXPECT_FALSE(update::ComposeTickUrl(out, sizeof out, longBase.c_str(), 2147483648u));  // needs 262 bytes
  EXPECT_STREQ("", out);
  EXPECT_TRUE(update::ComposePath(out, sizeof out, std::string(254, 'd').c_str(), "Temp"));
  EXPECT_FALSE(update::ComposePath(out, sizeof out, std::string(255, 'd').c_str(), "Temp"));
}

TEST(UpdatePaths, OnlyALowerInstalledNumberUpdates) {
  EXPECT_TRUE(update::NeedsUpdate(0, 1));
  EXPECT_TRUE(update::NeedsUpdate(-5, 0));
  EXPECT_FALSE(update::NeedsUpdate(3, 3));
  EXPECT_FALSE(update::NeedsUpdate(4, 3));
}

}  // namespace
