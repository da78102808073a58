// The commit journal's record: what is written reads back the same, and every
// way a journal can be cut, altered or made to point outside Game reads as
// damaged, so that recovery never trusts it.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

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
}

TEST(CommitJournal, Crc32IsTheZipChecksum) {
  EXPECT_EQ(0u, base::Crc32(0, "", 0));
  EXPECT_EQ(0xCBF43926u, base::Crc32(0, "123456789", 9));
  EXPECT_EQ(0xCBF43926u, base::Crc32(base::Crc32(0, "1234", 4), "56789", 5));
}

}  // namespace
