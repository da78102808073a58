// The manifest the pack tool builds by reading a written archive back: every
// span is the entry's raw bytes from its local header up to the next entry's
// (or the central directory), and every digest is that of the bytes and the
// files they came from.
#include "tools/pack/client_tree.h"
#include "tools/pack/manifest_builder.h"
#include "tools/pack/zip_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "tests/support/zip_fixture.h"
#include "tests/support/sha256_hex.h"
#include "tests/support/zip_extra_fields.h"
#include "update/install/zip_local_header.h"

namespace {

namespace fs = std::filesystem;

using testing_files::Sha256Hex;

std::string Hex(const update::Sha256Digest& digest) {
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(digest, hex);
  return hex;
}

std::uint64_t Le(const std::string& b, std::size_t at, int n) {
  std::uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + static_cast<std::size_t>(i)]);
  return v;
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class PackManifest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("pack_manifest_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Every span against the archive's bytes; `contents` by name on disk.
  static void ExpectSpansMatch(const fs::path& archive, const update::Manifest& manifest,
                               const std::map<std::string, std::string>& contents) {
    const std::string bytes = ReadFileBytes(archive);
    EXPECT_EQ(bytes.size(), manifest.archiveSize);
    EXPECT_EQ(Sha256Hex(bytes), Hex(manifest.archiveSha256));
    ASSERT_GE(bytes.size(), 22u);
    const std::size_t end = bytes.size() - 22;  // no comment, no zip64 end records in a small archive
    ASSERT_EQ(0x06054b50u, Le(bytes, end, 4));
    const std::uint64_t directory = Le(bytes, end + 16, 4);
    ASSERT_EQ(contents.size(), manifest.entries.size());
    for (std::size_t i = 0; i < manifest.entries.size(); ++i) {
      const update::ManifestEntry& e = manifest.entries[i];
      SCOPED_TRACE(e.storedName);
      const std::uint64_t next = i + 1 < manifest.entries.size() ? manifest.entries[i + 1].spanOffset : directory;
      EXPECT_EQ(next, e.spanOffset + e.spanLength) << "the span ends where the next bytes begin";
      ASSERT_LE(e.spanOffset + e.spanLength, bytes.size());
      const std::string span = bytes.substr(e.spanOffset, e.spanLength);
      update::ZipLocalHeader header;
      ASSERT_TRUE(update::ParseZipLocalHeader(span.data(), span.size(), &header));
      EXPECT_EQ(e.storedName, header.name);
      EXPECT_EQ(Sha256Hex(span), Hex(e.spanSha256));
      const auto content = contents.find(e.name);
      ASSERT_NE(contents.end(), content) << "name on disk " << e.name;
      EXPECT_EQ(content->second.size(), e.size);
      EXPECT_EQ(Sha256Hex(content->second), Hex(e.sha256));
      EXPECT_EQ(testing_zip::ZlibCrc32(content->second), e.crc);
      EXPECT_EQ(e.name.back() == '/', e.directory);
    }
  }

  fs::path root_;
};

TEST_F(PackManifest, SpansOfAPackedClient) {
  const fs::path client = root_ / "client";
  fs::create_directories(client / "data");
  fs::create_directories(client / fs::u8path("\xe4\xb9\x97"));  // GBK 81 5C: a trail byte of "\"
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + "\n";
  const std::map<std::string, std::string> files = {
      {"data/a.txt", text},
      {"data/empty.bin", ""},
      {"\xe8\xaf\xb4\xe6\x98\x8e.txt", "\x01\x02\x03 readme"},
  };
  for (const auto& [name, data] : files) std::ofstream(client / fs::u8path(name), std::ios::binary) << data;
  std::vector<std::string> refused;
  const std::vector<pack::PackEntry> entries = pack::CollectClientEntries(client, &refused);
  ASSERT_TRUE(refused.empty());
  const fs::path archive = root_ / "ClientContent";
  std::string error;
  ASSERT_TRUE(pack::WriteClientArchive(archive, entries, &error)) << error;

  update::Manifest manifest;
  ASSERT_TRUE(pack::BuildManifest(archive, &manifest, &error)) << error;
  ExpectSpansMatch(archive, manifest,
                   {{"data/", ""},
                    {"data/a.txt", text},
                    {"data/empty.bin", ""},
                    {"\x81\x5c/", ""},
                    {"\xcb\xb5\xc3\xf7.txt", "\x01\x02\x03 readme"}});
}

TEST_F(PackManifest, SpansOfStoredAndUtf8EntriesAndARefusedUnicodePathName) {
  const fs::path archive = root_ / "other.zip";
  testing_zip::ZipEntry stored{"stored.txt", "kept as it is"};
  stored.stored = true;
  testing_zip::ZipEntry utf8{"\xe6\xb8\xb8.txt", std::string(3000, 'x')};
  utf8.flags = 0x800;
  ASSERT_TRUE(testing_zip::WriteZip(archive.string(), {stored, utf8}));
  update::Manifest manifest;
  std::string error;
  ASSERT_TRUE(pack::BuildManifest(archive, &manifest, &error)) << error;
  ASSERT_EQ(2u, manifest.entries.size());
  EXPECT_TRUE(manifest.entries[1].utf8Name);
  ExpectSpansMatch(archive, manifest, {{"stored.txt", stored.data}, {"\xd3\xce.txt", utf8.data}});

  // The installer would name this entry from its Unicode Path field, which a
  // manifest does not carry: no manifest is made.
  testing_zip::ZipEntry fielded{"_.txt", "x"};
  fielded.extra = testing_zip::UnicodePathFieldFor("_.txt", "\xe6\xb8\xb8.txt");
  ASSERT_TRUE(testing_zip::WriteZip(archive.string(), {fielded}));
  EXPECT_FALSE(pack::BuildManifest(archive, &manifest, &error));
  EXPECT_NE(std::string::npos, error.find("_.txt")) << error;
}

}  // namespace
