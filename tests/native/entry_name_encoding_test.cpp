// The name on disk of an archive entry: code page 936 conversion, the rule
// that picks the stored name or the Unicode Path field and reads it as UTF-8
// or as code page 936, and the entry header every reader of the archive gets.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/zip_fixture.h"
#include "tests/support/code_page_936_cases.h"
#include "tests/support/zip_extra_fields.h"
#include "update/install/code_page_936.h"
#include "update/install/entry_name_encoding.h"
#include "update/install/zip_archive.h"
#include "update/install/zip_entry_header.h"

namespace {

namespace fs = std::filesystem;
using update::DiskNameRule;

const std::string kGuideUtf8 = "\xe6\xb8\xb8\xe6\x88\x8f\xe8\xaf\xb4\xe6\x98\x8e.txt";  // 游戏说明.txt
const std::string kGuide936 = "\xd3\xce\xcf\xb7\xcb\xb5\xc3\xf7.txt";
const std::string kMapUtf8 = "\xe6\x95\xb0\xe6\x8d\xae/sub/\xe5\x9c\xb0\xe5\x9b\xbe.map";  // 数据/sub/地图.map
const std::string kMap936 = "\xca\xfd\xbe\xdd/sub/\xb5\xd8\xcd\xbc.map";
const std::string kHangulUtf8 = "\xe3\x84\xb1.txt";  // ㄱ.txt: code page 936 has no ㄱ

using testing_zip::ExtraBlock;
using testing_zip::Little16;
using testing_zip::UnicodePathField;
using testing_zip::UnicodePathFieldFor;
using testing_zip::ZlibCrc32;

// Extra blocks archivers write beside it: extended timestamp, Unix owner.
const std::string kTimestamp = ExtraBlock(0x5455, std::string("\x03\x00\x00\x00\x00\x00\x00\x00\x00", 9));
const std::string kUnixOwner = ExtraBlock(0x7875, std::string("\x01\x04\x00\x00\x00\x00\x04\x00\x00\x00\x00", 11));

TEST(CodePage936, ConvertsOrRefusesWhole) {
  for (const testing_names::CodePage936Case& c : testing_names::CodePage936Cases()) {
    SCOPED_TRACE(c.label);
    std::string out = "left over";
    EXPECT_EQ(c.codePage936 != nullptr, update::Utf8ToCodePage936(c.utf8, &out));
    EXPECT_EQ(c.codePage936 != nullptr ? c.codePage936 : "", out);  // refused: never a "?" in its place
  }
}

TEST(DiskName, FollowsTheFieldThenTheFlagThenTheStoredBytes) {
  constexpr std::uint32_t kUtf8 = update::kUtf8NameFlag;
  constexpr std::uint32_t kDeflateMax = 0x2;  // a flag bit of the compression, not of the name
  const std::string stored = "_____.txt";     // what some archivers store beside the field
  struct Case {
    const char* label;
    std::uint32_t flags;
    std::string stored;
    std::string extra;
    DiskNameRule rule;
    std::string disk;
  };
  const std::vector<Case> cases = {
      // No flag, no field: the bytes as they are, whatever they are (as ever).
      {"code page 936 name", 0, kGuide936, "", DiskNameRule::StoredCodePage936, kGuide936},
      {"UTF-8 without the flag stays bytes", 0, kGuideUtf8, kTimestamp, DiskNameRule::StoredCodePage936, kGuideUtf8},
      {"other flag bits", kDeflateMax, kMap936, "", DiskNameRule::StoredCodePage936, kMap936},
      {"ASCII", 0, "data/a.pak", kUnixOwner, DiskNameRule::StoredCodePage936, "data/a.pak"},
      // Bit 11: the stored name is UTF-8.
      {"flagged file", kUtf8, kGuideUtf8, "", DiskNameRule::StoredUtf8, kGuide936},
      {"flagged path", kUtf8 | kDeflateMax, kMapUtf8, kTimestamp + kUnixOwner, DiskNameRule::StoredUtf8, kMap936},
      {"flagged directory", kUtf8, "\xe6\x95\xb0\xe6\x8d\xae/", "", DiskNameRule::StoredUtf8, "\xca\xfd\xbe\xdd/"},
      {"flagged ASCII", kUtf8, "./readme.txt", "", DiskNameRule::StoredUtf8, "./readme.txt"},
      {"trail byte 0x5C on disk", kUtf8, "a\xe2\x80\x90" "b", "", DiskNameRule::StoredUtf8, "a\xa9\x5c" "b"},
      {"flagged, a character code page 936 lacks", kUtf8, kHangulUtf8, "", DiskNameRule::Unrepresentable, ""},
      {"flagged emoji", kUtf8, "\xf0\x9f\x98\x80.txt", "", DiskNameRule::Unrepresentable, ""},
      {"flagged code page 936 bytes", kUtf8, kGuide936, "", DiskNameRule::Unrepresentable, ""},
      {"flagged, cut character", kUtf8, "a\xe6\xb8", "", DiskNameRule::Unrepresentable, ""},
      {"flagged, overlong \"/\"", kUtf8, "a\xc0\xaf..\xc0\xafx", "", DiskNameRule::Unrepresentable, ""},
      {"flagged, overlong three bytes", kUtf8, "\xe0\x80\xaf", "", DiskNameRule::Unrepresentable, ""},
      {"flagged, surrogate", kUtf8, "\xed\xa0\x80", "", DiskNameRule::Unrepresentable, ""},
      {"flagged, beyond U+10FFFF", kUtf8, "\xf4\x90\x80\x80", "", DiskNameRule::Unrepresentable, ""},
      {"flagged, lone continuation", kUtf8, "\x80" "a", "", DiskNameRule::Unrepresentable, ""},
      {"flagged, NUL inside", kUtf8, std::string("a\0b", 3), "", DiskNameRule::Unrepresentable, ""},
      // A Unicode Path field whose CRC is the stored name's gives the name.
      {"field", 0, stored, UnicodePathFieldFor(stored, kGuideUtf8), DiskNameRule::UnicodePathField, kGuide936},
      {"field after other blocks", 0, stored, kTimestamp + kUnixOwner + UnicodePathFieldFor(stored, kMapUtf8),
       DiskNameRule::UnicodePathField, kMap936},
      {"field over a flagged name", kUtf8, "x.txt", UnicodePathFieldFor("x.txt", kGuideUtf8),
       DiskNameRule::UnicodePathField, kGuide936},
      {"field over a code page 936 name", 0, kGuide936, UnicodePathFieldFor(kGuide936, kMapUtf8),
       DiskNameRule::UnicodePathField, kMap936},
      {"field, a character code page 936 lacks", 0, stored, UnicodePathFieldFor(stored, kHangulUtf8),
       DiskNameRule::Unrepresentable, ""},
      {"field, not UTF-8", 0, stored, UnicodePathFieldFor(stored, kGuide936), DiskNameRule::Unrepresentable, ""},
      {"field with an empty name", 0, stored, UnicodePathFieldFor(stored, ""), DiskNameRule::UnicodePathField, ""},
      // A field that does not match the header's name, or is not one, is passed over.
      {"field of another name's CRC", 0, stored, UnicodePathFieldFor("other.txt", kGuideUtf8),
       DiskNameRule::StoredCodePage936, stored},
      {"field of another CRC, flagged name", kUtf8, kMapUtf8, UnicodePathFieldFor("other.txt", kGuideUtf8),
       DiskNameRule::StoredUtf8, kMap936},
      {"field of version 2", 0, stored, UnicodePathField(kGuideUtf8, ZlibCrc32(stored), 2),
       DiskNameRule::StoredCodePage936, stored},
      {"field too short for its CRC", 0, stored,
       ExtraBlock(update::kUnicodePathFieldId, std::string("\x01\x00\x00", 3)), DiskNameRule::StoredCodePage936,
       stored},
      {"field overrunning the extra field", 0, stored,
       UnicodePathFieldFor(stored, kGuideUtf8).substr(0, 4 + 5 + 3), DiskNameRule::StoredCodePage936, stored},
      {"a block before it overruns", 0, stored,
       Little16(0x5455) + Little16(0xFFFF) + UnicodePathFieldFor(stored, kGuideUtf8), DiskNameRule::StoredCodePage936,
       stored},
      {"only the first field counts", 0, stored,
       UnicodePathField(kGuideUtf8, ZlibCrc32(stored), 2) + UnicodePathFieldFor(stored, kMapUtf8),
       DiskNameRule::StoredCodePage936, stored},
      {"a block header cut short", 0, stored, std::string("\x75\x70\x09", 3), DiskNameRule::StoredCodePage936, stored},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string disk = "left over";
    EXPECT_EQ(c.rule, update::DecideDiskName(c.flags, c.stored, c.extra, &disk));
    EXPECT_EQ(c.disk, disk);
  }
}

class EntryHeader : public ::testing::Test {
 protected:
  void SetUp() override {
    archive_ = (fs::temp_directory_path() / ("entry_header_" + std::to_string(::getpid()) + ".zip")).string();
  }
  void TearDown() override { fs::remove(archive_); }

  std::vector<update::ZipEntryHeader> ReadAll(const std::vector<testing_zip::ZipEntry>& entries) {
    std::vector<update::ZipEntryHeader> headers;
    EXPECT_TRUE(testing_zip::WriteZip(archive_, entries));
    update::ZipArchive archive(archive_.c_str());
    EXPECT_NE(nullptr, archive.Get());
    if (archive.Get() == nullptr) return headers;
    for (int at = unzGoToFirstFile(archive.Get()); at == UNZ_OK; at = unzGoToNextFile(archive.Get())) {
      headers.emplace_back();
      EXPECT_TRUE(update::ReadZipEntryHeader(archive.Get(), &headers.back()));
    }
    return headers;
  }

  std::string archive_;
};

TEST_F(EntryHeader, NamesOnDiskFitTheirBufferWhateverTheStoredLength) {
  std::string longUtf8;  // 120 CJK characters: 360 bytes stored, 240 on disk
  std::string long936;
  for (int i = 0; i < 120; ++i) {
    longUtf8 += "\xe5\x9c\xb0";
    long936 += "\xb5\xd8";
  }
  const std::string tooLongUtf8 = longUtf8 + std::string(20, 'x');  // 260 bytes on disk
  const std::string stored = "_____.txt";
  struct Case {
    const char* label;
    testing_zip::ZipEntry entry;
    bool usable;
    std::string name;
  };
  constexpr std::uint16_t kUtf8 = update::kUtf8NameFlag;
  const std::vector<Case> cases = {
      {"code page 936, as ever", {kGuide936, "g", 0x20, false, 0, ""}, true, kGuide936},
      {"UTF-8 flag", {kMapUtf8, "m", 0x20, false, kUtf8, kTimestamp}, true, kMap936},
      {"longer stored than on disk", {longUtf8, "l", 0x20, false, kUtf8, ""}, true, long936},
      {"too long on disk", {tooLongUtf8, "t", 0x20, false, kUtf8, ""}, false, ""},
      {"too long as stored, as ever", {std::string(260, 'n'), "n", 0x20, false, 0, ""}, false, ""},
      {"field", {stored, "f", 0x20, false, 0, kUnixOwner + UnicodePathFieldFor(stored, kGuideUtf8)}, true, kGuide936},
      {"unrepresentable", {kHangulUtf8, "h", 0x20, false, kUtf8, ""}, false, ""},
      // Longer than the header's first read: read again, whole.
      {"stored name of 1,100 bytes", {std::string(1100, 'w'), "w", 0x20, false, kUtf8, ""}, false, ""},
      {"field after 1,100 bytes of other blocks",
       {stored, "p", 0x20, false, 0, ExtraBlock(0x5455, std::string(1096, 'p')) + UnicodePathFieldFor(stored, kMapUtf8)},
       true, kMap936},
  };
  std::vector<testing_zip::ZipEntry> entries;
  for (const Case& c : cases) entries.push_back(c.entry);
  const std::vector<update::ZipEntryHeader> headers = ReadAll(entries);
  ASSERT_EQ(cases.size(), headers.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].label);
    EXPECT_EQ(cases[i].usable, headers[i].nameUsable);
    EXPECT_EQ(cases[i].name, headers[i].name);
    EXPECT_EQ(cases[i].entry.name, headers[i].storedName);  // for the refusal's log line
    EXPECT_EQ(1u, headers[i].size);
    EXPECT_EQ(ZlibCrc32(cases[i].entry.data), headers[i].crc);
    EXPECT_EQ(0x20u, headers[i].attributes);
  }
}

}  // namespace
