#include "app/argument_map.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace app {
namespace {

using Entries = std::map<std::string, std::string>;

struct ParseCase {
  const char* commandLine;
  Entries expected;
};

class ParseArgumentsTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseArgumentsTest, FillsTheMap) {
  ArgumentMap map;
  map.ParseArguments(GetParam().commandLine);
  EXPECT_EQ(map.Entries(), GetParam().expected) << "command line: [" << GetParam().commandLine << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ParseArgumentsTest,
    ::testing::Values(
        ParseCase{"a=1", {{"a", "1"}}},
        ParseCase{"a=1;b=2", {{"a", "1"}, {"b", "2"}}},
        ParseCase{"a=1,b=2;c=3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        ParseCase{"a=1,a=2", {{"a", "2"}}},
        ParseCase{";;a=1;,", {{"a", "1"}}},
        ParseCase{"a==1", {{"a", "1"}}},
        ParseCase{"a=1=2", {}},
        ParseCase{"a=", {}},
        ParseCase{"=1", {}},
        ParseCase{"=", {}},
        ParseCase{"a=1 b=2", {}},
        ParseCase{"x;a=1", {{"a", "1"}}},
        ParseCase{"a=1=2;b=3", {{"b", "3"}}},
        ParseCase{"A=1;a=2", {{"A", "1"}, {"a", "2"}}},
        ParseCase{"", {}},
        ParseCase{";,;,", {}},
        // Blanks, tabs and quotes belong to keys and values.
        ParseCase{" a = 1 ", {{" a ", " 1 "}}},
        ParseCase{"\"a=1;b=2\"", {{"\"a", "1"}, {"b", "2\""}}},
        // Double-byte characters (GBK) pass through unchanged.
        ParseCase{"name=\xD5\xC5\xC8\xFD", {{"name", "\xD5\xC5\xC8\xFD"}}}));

TEST(ArgumentMapTest, FindTokenIsCaseSensitiveAndTakesTheLaterValue) {
  struct {
    const char* commandLine;
    const char* token;  // null: not found
  } cases[] = {
      {"token=abc", "abc"},
      {"Token=abc", nullptr},
      {"TOKEN=abc", nullptr},
      {"token=first;x=1;token=second", "second"},
      {"token=good;token=bad=bad", "good"},  // a malformed later one does not count
      {"\"token=abc;b=2\"", nullptr},       // the quote belongs to the key
      {"", nullptr},
  };
  for (const auto& c : cases) {
    ArgumentMap map;
    map.ParseArguments(c.commandLine);
    const char* found = map.FindToken();
    if (c.token == nullptr) {
      EXPECT_EQ(found, nullptr) << c.commandLine;
    } else {
      ASSERT_NE(found, nullptr) << c.commandLine;
      EXPECT_STREQ(found, c.token) << c.commandLine;
    }
  }
}

TEST(ArgumentMapTest, NullCommandLineLeavesTheMapEmpty) {
  ArgumentMap map;
  map.ParseArguments(nullptr);
  EXPECT_EQ(map.Size(), 0u);
}

TEST(ArgumentMapTest, SetArgumentInsertsThenReplaces) {
  ArgumentMap map;
  map.SetArgument("token", "one");
  map.SetArgument("token", "two");
  EXPECT_EQ(map.Size(), 1u);
  EXPECT_STREQ(map.FindToken(), "two");
}

TEST(ArgumentMapTest, KeysSortAsUnsignedBytesWithPrefixesFirst) {
  ArgumentMap map;
  map.ParseArguments("b=1;\xB1\xED=2;ab=3;a=4");
  std::vector<std::string> keys;
  for (const auto& entry : map.Entries()) keys.push_back(entry.first);
  EXPECT_THAT(keys, ::testing::ElementsAre("a", "ab", "b", "\xB1\xED"));
}

TEST(ArgumentMapTest, RepairIsAskedForByExactlyRepairEqualsOne) {
  struct Case {
    const char* commandLine;
    bool repair;
  } cases[] = {
      {"repair=1", true},
      {"token=abc;repair=1,x=2", true},
      {"repair=0;repair=1", true},  // the later one wins
      {"repair=1;repair=0", false},
      {"repair=0", false},
      {"repair=yes", false},
      {"repair=11", false},
      {"repair=1 ", false},
      {"Repair=1", false},
      {"repair==1", true},  // the empty piece is dropped, as for every key
      {"repair=1=1", false},
      {"", false},
  };
  for (const Case& c : cases) {
    ArgumentMap map;
    map.ParseArguments(c.commandLine);
    EXPECT_EQ(c.repair, RepairRequested(map)) << c.commandLine;
  }
}

TEST(SplitAtAnyTest, EveryCharacterOfEverySeparatorSplitsAndEmptyPiecesAreDropped) {
  std::vector<std::string> pieces{"kept"};
  SplitAtAny("x;;y,z|w", {";,", "|"}, &pieces);
  EXPECT_THAT(pieces, ::testing::ElementsAre("kept", "x", "y", "z", "w"));

  std::vector<std::string> none;
  SplitAtAny(";;;", {";"}, &none);
  SplitAtAny("", {";"}, &none);
  EXPECT_TRUE(none.empty());

  std::vector<std::string> whole;
  SplitAtAny("abc", {}, &whole);
  EXPECT_THAT(whole, ::testing::ElementsAre("abc"));
}

}  // namespace
}  // namespace app
