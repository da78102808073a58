// The pack tool's ZIP64 records: written where a size, an offset or the entry
// count needs them, and only there; the archives pass Info-ZIP's own test and
// read back with minizip.
#include "tools/pack/client_tree.h"
#include "tools/pack/zip_writer.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;

std::uint64_t Le(const std::string& b, std::size_t at, int n) {
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

std::string ReadRange(const fs::path& path, std::uint64_t offset, std::size_t length) {
  std::ifstream in(path, std::ios::binary);
  in.seekg(static_cast<std::streamoff>(offset));
  std::string bytes(length, '\0');
  in.read(&bytes[0], static_cast<std::streamsize>(length));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// What the archive's end and central directory say about ZIP64.
struct Zip64Facts {
  bool endRecords = false;           // zip64 end record and locator present
  std::uint64_t count = 0;           // entries, from whichever record holds them
  std::uint64_t walked = 0;          // central headers read, to be compared with `count`
  std::vector<std::string> zip64Entries;  // names whose central header has a zip64 field
};

Zip64Facts ReadZip64Facts(const fs::path& archive) {
  Zip64Facts facts;
  const std::uint64_t size = fs::file_size(archive);
  const std::string tail = ReadRange(archive, size - 22 - 20, 42);  // the pack tool writes no comment
  EXPECT_EQ(0x06054b50u, Le(tail, 20, 4)) << "end record";
  std::uint64_t directory = Le(tail, 20 + 16, 4);
  facts.count = Le(tail, 20 + 10, 2);
  facts.endRecords = Le(tail, 0, 4) == 0x07064b50u;
  if (facts.endRecords) {
    const std::string end64 = ReadRange(archive, Le(tail, 8, 8), 56);
    EXPECT_EQ(0x06064b50u, Le(end64, 0, 4));
    facts.count = Le(end64, 32, 8);
    directory = Le(end64, 48, 8);
  }
  const std::string central = ReadRange(archive, directory, static_cast<std::size_t>(size - directory));
  std::size_t at = 0;
  for (std::uint64_t i = 0; i < facts.count && at + 46 <= central.size(); ++i) {
    EXPECT_EQ(0x02014b50u, Le(central, at, 4));
    const std::size_t nameLength = Le(central, at + 28, 2), extraLength = Le(central, at + 30, 2),
                      commentLength = Le(central, at + 32, 2);
    const std::string name = central.substr(at + 46, nameLength);
    for (std::size_t e = at + 46 + nameLength; e + 4 <= at + 46 + nameLength + extraLength;
         e += 4 + Le(central, e + 2, 2)) {
      if (Le(central, e, 2) == 1) facts.zip64Entries.push_back(name);
    }
    at += 46 + nameLength + extraLength + commentLength;
    ++facts.walked;
  }
  EXPECT_EQ(facts.count, facts.walked) << "central headers";
  return facts;
}

bool PassesUnzipTest(const fs::path& archive) {
  const std::string command = "unzip -tqq '" + archive.string() + "' > /dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

class PackZip64 : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("pack64_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    client_ = root_ / "client";
    fs::create_directories(client_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  void Put(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  fs::path Pack() {
    std::vector<std::string> errors;
    const std::vector<pack::PackEntry> entries = pack::CollectClientEntries(client_, &errors);
    EXPECT_TRUE(errors.empty());
    const fs::path archive = root_ / "ClientContent";
    std::string error;
    EXPECT_TRUE(pack::WriteClientArchive(archive, entries, &error)) << error;
    return archive;
  }

  fs::path root_;
  fs::path client_;
};

TEST_F(PackZip64, SmallClientHasNoZip64RecordAtAll) {
  Put(client_ / "a.txt", "a");
  Put(client_ / "data" / "b.pak", std::string(100000, 'b'));
  const fs::path archive = Pack();
  const Zip64Facts facts = ReadZip64Facts(archive);
  EXPECT_FALSE(facts.endRecords);
  EXPECT_EQ(3u, facts.count);
  EXPECT_TRUE(facts.zip64Entries.empty());
  EXPECT_TRUE(PassesUnzipTest(archive));
}

TEST_F(PackZip64, MoreThan65535FilesGetTheZip64EndRecordsOnly) {
  constexpr int kFolders = 64, kFilesPerFolder = 1025;  // 65,600 files, 65,664 entries
  for (int d = 0; d < kFolders; ++d) {
    const fs::path folder = client_ / ("d" + std::to_string(d));
    fs::create_directories(folder);
    for (int f = 0; f < kFilesPerFolder; ++f) std::ofstream(folder / (std::to_string(f) + ".txt"), std::ios::binary) << f;
  }
  const fs::path archive = Pack();
  const Zip64Facts facts = ReadZip64Facts(archive);
  EXPECT_TRUE(facts.endRecords);
  EXPECT_EQ(65664u, facts.count);
  EXPECT_TRUE(facts.zip64Entries.empty()) << facts.zip64Entries.front();

  unzFile zip = unzOpen64(archive.string().c_str());
  ASSERT_NE(nullptr, zip);
  unz_global_info64 global;
  ASSERT_EQ(UNZ_OK, unzGetGlobalInfo64(zip, &global));
  EXPECT_EQ(facts.count, global.number_entry);
  std::uint64_t walked = 0;
  for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) ++walked;
  EXPECT_EQ(global.number_entry, walked);
  unzClose(zip);
  EXPECT_TRUE(PassesUnzipTest(archive));
}

// A sparse file of 4 GiB and more: its sizes need zip64 fields (the archive
// itself stays small, so nothing else does).
TEST_F(PackZip64, FilePastFourGiBGetsZip64SizesOnly) {
  constexpr std::uint64_t kBig = (std::uint64_t{4} << 30) + 4096;
  Put(client_ / "a.txt", "a");
  { std::ofstream(client_ / "big.pak", std::ios::binary); }
  fs::resize_file(client_ / "big.pak", kBig);
  Put(client_ / "z.txt", "after the big file");
  const fs::path archive = Pack();
  const Zip64Facts facts = ReadZip64Facts(archive);
  EXPECT_FALSE(facts.endRecords);
  EXPECT_EQ(std::vector<std::string>{"big.pak"}, facts.zip64Entries);

  unzFile zip = unzOpen64(archive.string().c_str());
  ASSERT_NE(nullptr, zip);
  ASSERT_EQ(UNZ_OK, unzLocateFile(zip, "big.pak", 1));
  unz_file_info64 info;
  ASSERT_EQ(UNZ_OK, unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0));
  EXPECT_EQ(kBig, info.uncompressed_size);
  unzClose(zip);
  EXPECT_TRUE(PassesUnzipTest(archive));  // inflates the whole entry and checks its CRC
}

TEST(PackZip64Rule, LocalZip64SizesFromTheWorstDeflatedSize) {
  struct Case {
    std::uintmax_t size;
    bool zip64;
  } cases[] = {{0, false},
               {kMax32 - 2 * 1024 * 1024, false},
               {kMax32 - 1024 * 1024, true},  // incompressible data could pass 4 GiB deflated
               {kMax32, true},
               {std::uintmax_t{5} << 30, true}};
  for (const Case& c : cases) EXPECT_EQ(c.zip64, pack::NeedsZip64Sizes(c.size)) << c.size;
}

}  // namespace
