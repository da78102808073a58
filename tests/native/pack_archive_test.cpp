// A client folder packed and read back with minizip's reader, as the
// launcher's installer reads it.
#include "tools/pack/client_tree.h"
#include "tools/pack/zip_writer.h"

#include <gtest/gtest.h>
#include <unzip.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ReadEntry {
  std::string name;
  unsigned long attributes = 0;
  unsigned long flag = 0;
  unsigned long dosDate = 0;
  std::string data;
};

class PackArchive : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("pack_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    client_ = root_ / "client";
    fs::create_directories(client_ / "data" / "maps");
    fs::create_directories(client_ / "empty");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void WriteFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
  }

  static std::string ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::vector<ReadEntry> ReadBack(const fs::path& archive) {
    std::vector<ReadEntry> entries;
    unzFile zip = unzOpen64(archive.string().c_str());
    EXPECT_NE(nullptr, zip);
    if (zip == nullptr) return entries;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
      unz_file_info64 info;
      char name[260] = {};
      EXPECT_EQ(UNZ_OK, unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0));
      ReadEntry entry;
      entry.name = name;
      entry.attributes = info.external_fa;
      entry.flag = info.flag;
      entry.dosDate = info.dosDate;
      if (unzOpenCurrentFile(zip) == UNZ_OK) {
        char buffer[4096];
        int got;
        while ((got = unzReadCurrentFile(zip, buffer, sizeof buffer)) > 0) entry.data.append(buffer, got);
        EXPECT_EQ(0, got);
        EXPECT_EQ(UNZ_OK, unzCloseCurrentFile(zip)) << "CRC of " << entry.name;
      }
      entries.push_back(entry);
    }
    unzClose(zip);
    return entries;
  }

  fs::path root_;
  fs::path client_;
};

TEST_F(PackArchive, ReadsBackAsTheInstallerExpects) {
  const std::string big(300000, 'x');
  WriteFile(client_ / "readme.txt", "hello\r\n");
  WriteFile(client_ / "noext", "n");
  WriteFile(client_ / "data" / "a.pak", big);
  WriteFile(client_ / "data" / "maps" / "m1.map", "map");
  WriteFile(client_ / fs::u8path("\xe8\xaf\xb4\xe6\x98\x8e.txt"), "gbk");  // 说明.txt

  std::vector<std::string> errors;
  std::vector<pack::PackEntry> entries = pack::CollectClientEntries(client_, &errors);
  ASSERT_TRUE(errors.empty()) << errors.front();
  const fs::path archive = root_ / "ClientContent";
  std::string error;
  ASSERT_TRUE(pack::WriteClientArchive(archive, entries, &error)) << error;

  std::vector<ReadEntry> read = ReadBack(archive);
  std::vector<std::string> names;
  for (const ReadEntry& e : read) names.push_back(e.name);
  const std::vector<std::string> expected = {
      "data/", "data/a.pak", "data/maps/", "data/maps/m1.map", "empty/", "noext", "readme.txt",
      "\xcb\xb5\xc3\xf7.txt"};
  EXPECT_EQ(expected, names);
  for (const ReadEntry& e : read) {
    const bool directory = e.name.back() == '/';
    EXPECT_EQ(directory ? 16u : 32u, e.attributes) << e.name;
    EXPECT_EQ(std::string::npos, e.name.find('\\')) << e.name;
    EXPECT_EQ(0u, e.flag & 0x800) << "UTF-8 flag set on " << e.name;
    EXPECT_EQ(read.front().dosDate, e.dosDate) << e.name;
    if (directory) {
      EXPECT_TRUE(e.data.empty()) << e.name;
    }
  }
  EXPECT_EQ(big, read[1].data);
  EXPECT_EQ("hello\r\n", read[6].data);
  EXPECT_EQ("gbk", read[7].data);
  EXPECT_LT(fs::file_size(archive), 10000u) << "file data is deflated";
}

TEST_F(PackArchive, SameFolderPacksToSameBytes) {
  WriteFile(client_ / "data" / "a.pak", "abc");
  std::vector<std::string> errors;
  std::string error;
  ASSERT_TRUE(pack::WriteClientArchive(root_ / "one", pack::CollectClientEntries(client_, &errors), &error));
  fs::last_write_time(client_ / "data" / "a.pak",
                      fs::last_write_time(client_ / "data" / "a.pak") + std::chrono::hours(30));
  ASSERT_TRUE(pack::WriteClientArchive(root_ / "two", pack::CollectClientEntries(client_, &errors), &error));
  EXPECT_TRUE(errors.empty());
  EXPECT_EQ(ReadFileBytes(root_ / "one"), ReadFileBytes(root_ / "two"));
}

TEST_F(PackArchive, RefusesEveryBadNameAndNamesEach) {
  WriteFile(client_ / fs::u8path("smile\xf0\x9f\x98\x80.txt"), "x");
  // 207 bytes in code page 936, yet short enough for MAX_PATH and NAME_MAX.
  std::string han60;
  std::string han41;
  for (int i = 0; i < 60; ++i) han60 += "\xe4\xb8\xad";
  for (int i = 0; i < 41; ++i) han41 += "\xe6\x96\x87";
  fs::create_directories(client_ / fs::u8path(han60));
  WriteFile(client_ / fs::u8path(han60) / fs::u8path(han41 + ".txt"), "x");
#ifndef _WIN32
  // Folders made on Linux can hold what Windows cannot.
  WriteFile(client_ / "Readme.txt", "x");
  WriteFile(client_ / "readme.txt", "x");
  WriteFile(client_ / "back\\slash", "x");
#endif
  std::vector<std::string> errors;
  pack::CollectClientEntries(client_, &errors);
  std::string all;
  for (const std::string& line : errors) all += line + "\n";
  EXPECT_NE(std::string::npos, all.find("smile")) << all;
  EXPECT_NE(std::string::npos, all.find(".txt: the name is longer than 200 bytes")) << all;
#ifndef _WIN32
  EXPECT_NE(std::string::npos, all.find("only in letter case")) << all;
  EXPECT_NE(std::string::npos, all.find("back\\slash")) << all;
  EXPECT_EQ(4u, errors.size()) << all;
#else
  EXPECT_EQ(2u, errors.size()) << all;
#endif
}

TEST_F(PackArchive, MissingClientFolderIsAnError) {
  std::vector<std::string> errors;
  EXPECT_TRUE(pack::CollectClientEntries(root_ / "nowhere", &errors).empty());
  EXPECT_EQ(1u, errors.size());
}

}  // namespace
