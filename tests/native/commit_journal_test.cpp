// The commit journal's record: what is written reads back the same, and every
// way a journal can be cut, altered or made to point outside Game reads as
// damaged, so that recovery never trusts it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/crc32.h"
#include "update/install/commit_journal.h"

namespace {

using update::JournalEntry;
using update::JournalEntryKind;
using update::JournalParse;
using update::JournalRecord;

JournalEntry File(std::uint32_t staged, std::uint64_t size, const std::string& name) {
  JournalEntry e;
  e.kind = JournalEntryKind::File;
  e.staged = staged;
  e.size = size;
  e.name = name;
  return e;
}

JournalEntry Dir(const std::string& name) {
  JournalEntry e;
  e.kind = JournalEntryKind::Directory;
  e.name = name;
  return e;
}

JournalRecord Sample() {
  JournalRecord r;
  r.version = 7;
  r.entries = {Dir("data/"), File(1, 3, "data/a.pak"), File(2, 0, "empty.txt"),
               File(4, 5000000000ull, "\xd7\xca\xd4\xb4/\x81\x5c.txt"), File(9, 1, "name with spaces")};
  return r;
}

std::string Written(const JournalRecord& r) {
  std::string text;
  EXPECT_TRUE(update::FormatJournal(r, &text));
  return text;
}

JournalParse Parse(const std::string& text, JournalRecord* out = nullptr) {
  JournalRecord ignored;
  return update::ParseJournal(text.data(), text.size(), out ? out : &ignored);
}

// The checksum line recomputed, so that a test reaches the checks behind it.
std::string Resealed(std::string text) {
  const std::size_t end = text.rfind("end ");
  text.resize(end);
  const std::uint32_t crc = base::Crc32(0, text.data(), text.size());
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", crc);
  return text + "end " + hex + "\n";
}

TEST(CommitJournal, WhatIsWrittenReadsBackTheSame) {
  for (std::int32_t version : {0, 7, -1, 2147483647, -2147483647 - 1}) {
    JournalRecord r = Sample();
    r.version = version;
    JournalRecord back;
    ASSERT_EQ(JournalParse::Valid, Parse(Written(r), &back)) << Written(r);
    EXPECT_EQ(version, back.version);
    ASSERT_EQ(r.entries.size(), back.entries.size());
    for (std::size_t i = 0; i < r.entries.size(); ++i) {
      EXPECT_EQ(r.entries[i].kind, back.entries[i].kind);
      EXPECT_EQ(r.entries[i].staged, back.entries[i].staged);
      EXPECT_EQ(r.entries[i].size, back.entries[i].size);
      EXPECT_EQ(r.entries[i].name, back.entries[i].name);
    }
  }
  JournalRecord empty;
  EXPECT_EQ(JournalParse::Valid, Parse(Written(empty)));
}

TEST(CommitJournal, EveryCutAndEveryFlippedByteIsDamaged) {
  const std::string text = Written(Sample());
  for (std::size_t length = 0; length < text.size(); ++length)
    EXPECT_EQ(JournalParse::Damaged, Parse(text.substr(0, length))) << "cut at " << length;
  for (std::size_t at = 0; at < text.size(); ++at) {
    std::string altered = text;
    altered[at] = static_cast<char>(altered[at] ^ 0x01);
    EXPECT_EQ(JournalParse::Damaged, Parse(altered)) << "byte " << at;
  }
  EXPECT_EQ(JournalParse::Damaged, Parse(text + "x"));
  EXPECT_EQ(JournalParse::Damaged, Parse(text + text));
}

TEST(CommitJournal, WellSealedRecordsThatBreakTheRulesAreDamaged) {
  const std::string good = Written(Sample());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    const std::size_t at = t.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    t.replace(at, from.size(), to);
    return Resealed(t);
  };
  struct Case { const char* label; std::string text; };
  const Case cases[] = {
      {"other format", replaced("launcher-commit 1", "launcher-commit 2")},
      {"count too high", replaced("entries 5", "entries 6")},
      {"count too low", replaced("entries 5", "entries 4")},
      {"leading zero", replaced("f 1 3 ", "f 01 3 ")},
      {"plus sign", replaced("version 7", "version +7")},
      {"version overflow", replaced("version 7", "version 2147483648")},
      {"size overflow", replaced("f 1 3 ", "f 1 18446744073709551616 ")},
      {"numbers not rising", replaced("f 2 0 ", "f 1 0 ")},
      {"unknown kind", replaced("d data/", "x data/")},
      {"name escaping", replaced("data/a.pak", "../a.pak")},
      {"absolute name", replaced("data/a.pak", "C:\\a.pak")},
      {"device name", replaced("empty.txt", "NUL")},
      {"empty name", replaced("f 9 1 name with spaces", "f 9 1 ")},
      {"carriage return", replaced("empty.txt", "empty.txt\r")},
      {"upper-case checksum", [&] {
         std::string t = good;
         for (std::size_t i = t.rfind("end ") + 4; i < t.size(); ++i)
           if (t[i] >= 'a' && t[i] <= 'f') t[i] = static_cast<char>(t[i] - 'a' + 'A');
         return t == good ? t + "!" : t;
       }()},
  };
  EXPECT_EQ(JournalParse::Valid, Parse(Resealed(good)));
  for (const Case& c : cases) EXPECT_EQ(JournalParse::Damaged, Parse(c.text)) << c.label << "\n" << c.text;
}

TEST(CommitJournal, RemovalsReadBackAndStayInsideGame) {
  JournalRecord r = Sample();
  JournalEntry file;
  file.kind = JournalEntryKind::RemovedFile;
  file.name = "old-notes.txt";
  JournalEntry directory;
  directory.kind = JournalEntryKind::RemovedDirectory;
  directory.name = "retired/";
  r.entries.push_back(file);
  r.entries.push_back(directory);
  JournalRecord back;
  ASSERT_EQ(JournalParse::Valid, Parse(Written(r), &back));
  ASSERT_EQ(back.entries.size(), r.entries.size());
  EXPECT_EQ(back.entries[5].kind, JournalEntryKind::RemovedFile);
  EXPECT_EQ(back.entries[5].name, "old-notes.txt");
  EXPECT_EQ(back.entries[6].kind, JournalEntryKind::RemovedDirectory);
  EXPECT_EQ(back.entries[6].name, "retired/");

  std::string escaping = Written(r);
  escaping.replace(escaping.find("rf old-notes.txt"), 16, "rf ../notes.txt!");
  EXPECT_EQ(JournalParse::Damaged, Parse(Resealed(escaping))) << "a removal outside Game";
}

JournalEntry Entry(JournalEntryKind kind, const std::string& name, std::uint64_t size = 0) {
  JournalEntry e;
  e.kind = kind;
  e.name = name;
  e.size = size;
  return e;
}

TEST(CommitJournal, AJournalOfTheFormatBeforeFolderMovesReadsAndWritesAsBefore) {
  const std::string old = Resealed(
      "launcher-commit 1\nversion 3\nentries 4\nd data/\nf 1 3 data/a.pak\nrf old.txt\nrd gone/\nend 00000000\n");
  JournalRecord back;
  ASSERT_EQ(JournalParse::Valid, Parse(old, &back));
  EXPECT_EQ(3, back.version);
  ASSERT_EQ(4u, back.entries.size());
  EXPECT_EQ(JournalEntryKind::Directory, back.entries[0].kind);
  EXPECT_EQ(JournalEntryKind::File, back.entries[1].kind);
  EXPECT_EQ(1u, back.entries[1].staged);
  EXPECT_EQ(3u, back.entries[1].size);
  EXPECT_EQ("data/a.pak", back.entries[1].name);
  EXPECT_EQ(JournalEntryKind::RemovedFile, back.entries[2].kind);
  EXPECT_EQ(JournalEntryKind::RemovedDirectory, back.entries[3].kind);
  EXPECT_EQ(old, Written(back));
}

// A folder moved whole, with its files (and their sizes) and directories,
// beside the entries staged by number.
JournalRecord WithTrees() {
  JournalRecord r;
  r.version = 4;
  r.entries = {File(0, 1, "a.txt"),
               Entry(JournalEntryKind::Tree, "pack"),
               Entry(JournalEntryKind::TreeFile, "pack/x", 11),
               Entry(JournalEntryKind::TreeDirectory, "pack/sub/"),
               File(3, 2, "solo/y"),
               Entry(JournalEntryKind::Tree, "\xd7\xca\x81\x5c"),
               Entry(JournalEntryKind::TreeFile, "\xd7\xca\x81\x5c/z", 5000000000ull),
               Entry(JournalEntryKind::TreeFile, "PACK\\sub\\w", 0),
               Entry(JournalEntryKind::TreeDirectory, "pack")};
  return r;
}

TEST(CommitJournal, MovedFoldersReadBackWithTheFilesTheyHold) {
  const JournalRecord r = WithTrees();
  const std::string text = Written(r);
  for (const char* line : {"\nt pack\n", "\ntf 11 pack/x\n", "\ntd pack/sub/\n", "\ntf 0 PACK\\sub\\w\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
  JournalRecord back;
  ASSERT_EQ(JournalParse::Valid, Parse(text, &back)) << text;
  ASSERT_EQ(r.entries.size(), back.entries.size());
  for (std::size_t i = 0; i < r.entries.size(); ++i) {
    EXPECT_EQ(r.entries[i].kind, back.entries[i].kind) << i;
    EXPECT_EQ(r.entries[i].staged, back.entries[i].staged) << i;
    EXPECT_EQ(r.entries[i].size, back.entries[i].size) << i;
    EXPECT_EQ(r.entries[i].name, back.entries[i].name) << i;
  }
  const std::vector<std::size_t> holders = update::HoldingTrees(back);
  const std::size_t N = update::kNoTree;
  EXPECT_EQ((std::vector<std::size_t>{N, N, 1, 1, N, N, 5, 1, 1}), holders);

  // The shallowest of two folders that hold an entry.
  JournalRecord nested;
  nested.entries = {Entry(JournalEntryKind::Tree, "a"), Entry(JournalEntryKind::Tree, "a/b"),
                    Entry(JournalEntryKind::TreeFile, "a/b/x", 1)};
  EXPECT_EQ((std::vector<std::size_t>{N, N, 0}), update::HoldingTrees(nested));
}

TEST(CommitJournal, TreeEntriesOutsideAFolderNamedBeforeThemAreDamaged) {
  const std::string good = Written(WithTrees());
  auto replaced = [&](const std::string& from, const std::string& to) {
    std::string t = good;
    const std::size_t at = t.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    t.replace(at, from.size(), to);
    return Resealed(t);
  };
  struct Case { const char* label; std::string text; };
  const Case cases[] = {
      {"file in no moved folder", replaced("tf 11 pack/x\n", "tf 11 other/x\n")},
      {"directory in no moved folder", replaced("td pack/sub/\n", "td other/sub/\n")},
      {"a name that only begins like the folder", replaced("tf 11 pack/x\n", "tf 11 package/x\n")},
      {"a file that is the folder itself", replaced("tf 11 pack/x\n", "tf 11 pack\n")},
      {"a trail byte taken for a separator", replaced("t \xd7\xca\x81\x5c\n", "t \xd7\xca\x81\n")},
      {"file before its folder", replaced("a.txt\nt pack\ntf 11 pack/x\n", "a.txt\ntf 11 pack/x\nt pack\n")},
      {"folder named with a trailing separator", replaced("t pack\n", "t pack/\n")},
      {"folder outside Game", replaced("t pack\n", "t ../pack\n")},
      {"size with a leading zero", replaced("tf 11 ", "tf 011 ")},
      {"size missing", replaced("tf 11 pack/x", "tf pack/x")},
  };
  EXPECT_EQ(JournalParse::Valid, Parse(Resealed(good)));
  for (const Case& c : cases) EXPECT_EQ(JournalParse::Damaged, Parse(c.text)) << c.label << "\n" << c.text;

  // What would not read back is not written either.
  JournalRecord orphan;
  orphan.entries = {Entry(JournalEntryKind::TreeFile, "pack/x", 1)};
  std::string text;
  EXPECT_FALSE(update::FormatJournal(orphan, &text));
  JournalRecord trailing;
  trailing.entries = {Entry(JournalEntryKind::Tree, "pack/")};
  EXPECT_FALSE(update::FormatJournal(trailing, &text));
}

TEST(CommitJournal, NamesThatCannotBeWrittenAreRefused) {
  for (const std::string& name : {std::string(""), std::string("a\nb"), std::string("a\rb"), std::string("a\0b", 3)}) {
    JournalRecord r;
    r.entries = {File(0, 1, name)};
    std::string text;
    EXPECT_FALSE(update::FormatJournal(r, &text)) << name;
  }
}

TEST(CommitJournal, StagedNamesAreFixedWidthNumbersInSmallFolders) {
  EXPECT_EQ("00000000\\00000000", update::StagedFileName(0));
  EXPECT_EQ("00000000\\00000127", update::StagedFileName(127));
  EXPECT_EQ("00000001\\00000128", update::StagedFileName(128));
  EXPECT_EQ("00000096\\00012345", update::StagedFileName(12345));
  EXPECT_EQ("33554431\\4294967295", update::StagedFileName(4294967295u));
  EXPECT_EQ("tree\\pack/x.dat", update::StagedTreeName("pack/x.dat"));
}

TEST(CommitJournal, Crc32IsTheZipChecksum) {
  EXPECT_EQ(0u, base::Crc32(0, "", 0));
  EXPECT_EQ(0xCBF43926u, base::Crc32(0, "123456789", 9));
  EXPECT_EQ(0xCBF43926u, base::Crc32(base::Crc32(0, "1234", 4), "56789", 5));
}

}  // namespace
