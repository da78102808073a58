// Which names the pack tool lets into an archive, their code page 936 form,
// and the version descriptor it writes.
#include "tools/pack/entry_name.h"
#include "tools/pack/version_file.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using pack::NameProblem;

struct NameCase {
  std::string name;
  NameProblem expected;
};

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

TEST(PackEntryName, RulesTable) {
  const std::string han = "\xe4\xb8\xad";  // one Han character: 3 UTF-8 bytes, 2 GBK bytes
  const NameCase cases[] = {
      {"readme.txt", NameProblem::kNone},
      {"data/", NameProblem::kNone},
      {"data/a.pak", NameProblem::kNone},
      {"noext", NameProblem::kNone},
      {"bin/readme", NameProblem::kNone},
      {"pack.new/", NameProblem::kNone},
      {"a.b/c.d/e.f", NameProblem::kNone},
      {"CONSOLE.txt", NameProblem::kNone},
      {"COM0", NameProblem::kNone},
      {"", NameProblem::kEmpty},
      {"/", NameProblem::kAbsolute},
      {"/etc/passwd", NameProblem::kAbsolute},
      {"C:/Windows/x.dll", NameProblem::kDriveLetter},
      {"c:x", NameProblem::kDriveLetter},
      {"a\\b.txt", NameProblem::kBackslash},
      {"\\\\server\\share", NameProblem::kBackslash},
      {"a//b", NameProblem::kEmptyLevel},
      {"./a", NameProblem::kDotLevel},
      {"a/./b", NameProblem::kDotLevel},
      {"..", NameProblem::kParentLevel},
      {"../a", NameProblem::kParentLevel},
      {"a/../../b", NameProblem::kParentLevel},
      {"a/../", NameProblem::kParentLevel},
      {"a\tb", NameProblem::kControlChar},
      {std::string("a\x1f", 2), NameProblem::kControlChar},
      {"a<b", NameProblem::kForbiddenChar},
      {"a>b", NameProblem::kForbiddenChar},
      {"file:stream", NameProblem::kForbiddenChar},
      {"a\"b", NameProblem::kForbiddenChar},
      {"a|b", NameProblem::kForbiddenChar},
      {"what?", NameProblem::kForbiddenChar},
      {"data/*.pak", NameProblem::kForbiddenChar},
      {"name.", NameProblem::kTrailingDotOrSpace},
      {"name /x", NameProblem::kTrailingDotOrSpace},
      {"dir./", NameProblem::kTrailingDotOrSpace},
      {"CON", NameProblem::kReservedName},
      {"con.txt", NameProblem::kReservedName},
      {"data/LPT1.log", NameProblem::kReservedName},
      {"nul/", NameProblem::kReservedName},
      {"emoji\xf0\x9f\x98\x80.txt", NameProblem::kNotGbk},
      {"\xff\xfe.txt", NameProblem::kNotGbk},
      {Repeat("a", 200), NameProblem::kNone},
      {Repeat("a", 201), NameProblem::kTooLong},
      {Repeat("a", 199) + "/", NameProblem::kNone},
      {Repeat("a", 200) + "/", NameProblem::kTooLong},
      // The limit counts the stored (GBK) bytes, not the UTF-8 ones.
      {Repeat(han, 100), NameProblem::kNone},
      {Repeat(han, 100) + "a", NameProblem::kTooLong},
  };
  for (const NameCase& c : cases) {
    pack::NameCheck check = pack::CheckEntryName(c.name);
    EXPECT_EQ(c.expected, check.problem) << "name: " << c.name;
    if (c.expected == NameProblem::kNone) {
      EXPECT_FALSE(check.gbk.empty()) << c.name;
    } else {
      EXPECT_TRUE(check.gbk.empty()) << c.name;
    }
  }
}

TEST(PackEntryName, StoredNameIsCodePage936) {
  pack::NameCheck check = pack::CheckEntryName("data/\xe8\xaf\xb4\xe6\x98\x8e.txt");  // data/说明.txt
  ASSERT_EQ(NameProblem::kNone, check.problem);
  EXPECT_EQ("data/\xcb\xb5\xc3\xf7.txt", check.gbk);
}

TEST(PackEntryName, TooLongMessageNamesTheLimit) {
  const std::string text = pack::DescribeNameProblem(NameProblem::kTooLong);
  EXPECT_NE(std::string::npos, text.find("200"));
  EXPECT_NE(std::string::npos, text.find("259"));
}

TEST(PackVersionFile, ContentIsTheLauncherSection) {
  std::string content;
  std::string error;
  ASSERT_TRUE(pack::FormatVersionFile("2", "http://127.0.0.1:8080/ClientContent", &content, &error));
  EXPECT_EQ("[Launcher]\r\nVersion=2\r\nUrl=http://127.0.0.1:8080/ClientContent\r\n", content);
}

TEST(PackVersionFile, RefusesWhatTheLauncherWouldMisread) {
  struct Case {
    std::string version;
    std::string url;
    bool ok;
  };
  const std::string base = "http://h/";
  const Case cases[] = {
      {"1", "http://h/c", true},
      {"2147483647", "http://h/c", true},
      {"0", "http://h/c", false},           // what a missing install.cfg reads as: never updates
      {"-1", "http://h/c", false},
      {"2147483648", "http://h/c", false},  // past signed 32-bit
      {"1.5", "http://h/c", false},
      {" 2", "http://h/c", false},
      {"", "http://h/c", false},
      {"2", "", false},
      {"2", "http://h/a b", false},
      {"2", "http://h/c\r\nVersion=9", false},
      {"2", "\"http://h/c\"", false},
      {"2", "http://h/\xe4\xb8\xad", false},
      {"2", base + Repeat("x", 247 - static_cast<int>(base.size())), true},
      {"2", base + Repeat("x", 248 - static_cast<int>(base.size())), false},
  };
  for (const Case& c : cases) {
    std::string content;
    std::string error;
    EXPECT_EQ(c.ok, pack::FormatVersionFile(c.version, c.url, &content, &error))
        << c.version << " " << c.url;
    EXPECT_EQ(c.ok, error.empty()) << c.version << " " << c.url;
  }
}

}  // namespace
