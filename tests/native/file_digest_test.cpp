// The SHA-256 of a file on disk, read in blocks: the same digest as the bytes
// hashed at once, and the progress of the read.
#include "update/verify/file_digest.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string Hex(const update::Sha256Digest& digest) {
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(digest, hex);
  return hex;
}

class FileDigest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = fs::temp_directory_path() / ("file_digest_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove(path_, ignored);
  }
  void Write(const std::string& bytes) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  fs::path path_;
};

TEST_F(FileDigest, KnownDigests) {
  struct Case {
    const char* label;
    std::string bytes;
    const char* hex;
  } cases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Write(c.bytes);
    update::Sha256Digest digest;
    ASSERT_TRUE(update::FileSha256(path_.string().c_str(), &digest));
    EXPECT_EQ(c.hex, Hex(digest));
  }
}

TEST_F(FileDigest, ManyBlocksGiveTheDigestOfTheWholeAndReportTheirProgress) {
  std::string bytes(3 * (1u << 20) + 12345, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 24);
  Write(bytes);
  update::ArchiveVerifier whole{update::ArchiveExpectation{}};
  whole.OnBody(bytes.data(), bytes.size());
  whole.Finish();

  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  update::Sha256Digest digest;
  ASSERT_TRUE(update::FileSha256(path_.string().c_str(), &digest,
                                 [&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); }));
  EXPECT_EQ(Hex(whole.ReceivedDigest()), Hex(digest));
  ASSERT_EQ(4u, calls.size());
  EXPECT_EQ(bytes.size(), calls.back().first);
  for (const auto& call : calls) EXPECT_EQ(bytes.size(), call.second);
}

TEST_F(FileDigest, MissingFileHasNoDigest) {
  update::Sha256Digest digest;
  digest.bytes[0] = 0x5a;
  EXPECT_FALSE(update::FileSha256((path_.string() + ".missing").c_str(), &digest));
  EXPECT_EQ(0x5a, digest.bytes[0]);
}

}  // namespace
