// Entries staged from their spans alone, as range requests deliver them: a
// range over several spans and the gaps between them gives each file, and a
// span or entry that is not what the manifest says gives no staged file.
#include "update/incremental/span_staging.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "tests/support/file_bytes.h"
#include "tests/support/zip_fixture.h"
#include "tools/pack/manifest_builder.h"

namespace {

namespace fs = std::filesystem;
using update::SpanOutcome;

class SpanStaging : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("span_staging_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                                         testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_ / "staged");
    std::mt19937 random(7);
    std::string noise(9u << 20, '\0');  // a span past the memory limit: kept in a file until checked
    for (char& c : noise) c = static_cast<char>(random());
    contents_ = {"deflated " + std::string(5000, 'd'), "kept as it is", noise, ""};
    const std::vector<testing_zip::ZipEntry> entries = {
        {"data/", "", 0x10}, {"data/a.pak", contents_[0]}, {"b.txt", contents_[1], 0x20, true},
        {"noise.bin", contents_[2]}, {"empty.txt", contents_[3]}};
    archive_ = (root_ / "ClientContent").string();
    ASSERT_TRUE(testing_zip::WriteZip(archive_, entries));
    std::string error;
    ASSERT_TRUE(pack::BuildManifest(archive_, &manifest_, &error)) << error;
    ASSERT_EQ(manifest_.entries.size(), 5u);
    bytes_ = testing_files::ReadWholeFile(archive_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Staged() const { return (root_ / "staged").string(); }

  // Feeds the range's bytes in pieces of `piece`, as a transfer would.
  SpanOutcome Feed(const update::FetchRange& range, const std::string& bytes, std::size_t piece = 70000) {
    update::RangeStager stager(manifest_, range, Staged());
    const std::string body = bytes.substr(static_cast<std::size_t>(range.offset), static_cast<std::size_t>(range.length));
    for (std::size_t at = 0; at < body.size(); at += piece)
      if (!stager.OnBody(body.data() + at, std::min(piece, body.size() - at))) break;
    return stager.Finish();
  }
  std::string StagedBytes(std::size_t index) const {
    return testing_files::ReadWholeFile(update::StagedEntryPath(Staged(), index, false));
  }
  // Nothing but finished staged files: no part or spill file is left behind.
  void ExpectNoLeftovers() const {
    for (const auto& item : fs::recursive_directory_iterator(root_ / "staged")) {
      const std::string name = item.path().filename().string();
      EXPECT_EQ(std::string::npos, name.find('.')) << name;
    }
  }

  fs::path root_;
  std::string archive_;
  std::string bytes_;
  std::vector<std::string> contents_;
  update::Manifest manifest_;
};

TEST_F(SpanStaging, ARangeOverSeveralSpansAndTheirGapsStagesEachFile) {
  // Entries 1 and 3 in one request: the span of entry 2 lies between them, unused.
  const std::vector<update::FetchRange> ranges = update::CoalesceSpans(manifest_, {1, 3, 4}, UINT64_MAX);
  ASSERT_EQ(ranges.size(), 1u);
  for (std::size_t piece : {std::size_t{1} << 20, std::size_t{4093}}) {
    SCOPED_TRACE(piece);
    EXPECT_EQ(SpanOutcome::Staged, Feed(ranges[0], bytes_, piece));
    EXPECT_EQ(contents_[0], StagedBytes(1));
    EXPECT_EQ(contents_[2], StagedBytes(3));
    EXPECT_EQ(contents_[3], StagedBytes(4));
    EXPECT_EQ("", StagedBytes(2)) << "a gap is passed over";
    ExpectNoLeftovers();
  }
  const std::vector<update::FetchRange> stored = update::CoalesceSpans(manifest_, {2});
  EXPECT_EQ(SpanOutcome::Staged, Feed(stored[0], bytes_, 3));
  EXPECT_EQ(contents_[1], StagedBytes(2));
}

TEST_F(SpanStaging, WhatIsNotTheManifestsEntryIsNeverStaged) {
  struct Case {
    const char* label;
    std::size_t entry;
    SpanOutcome outcome;
    std::function<void(std::string& bytes, update::Manifest& manifest)> change;
  };
  const std::vector<Case> cases = {
      {"one flipped byte of compressed data", 1, SpanOutcome::SpanWrong,
       [](std::string& b, update::Manifest& m) { b[m.entries[1].spanOffset + m.entries[1].spanLength - 5] ^= 1; }},
      {"one flipped byte of a spilled span", 3, SpanOutcome::SpanWrong,
       [](std::string& b, update::Manifest& m) { b[m.entries[3].spanOffset + (9u << 20) - 3] ^= 0x40; }},
      {"a span that names another entry", 1, SpanOutcome::EntryWrong,
       [](std::string&, update::Manifest& m) { m.entries[1].storedName = "data/other.pak"; }},
      {"content of another CRC-32", 1, SpanOutcome::EntryWrong,
       [](std::string&, update::Manifest& m) { m.entries[1].crc ^= 1; }},
      {"content of another SHA-256", 2, SpanOutcome::EntryWrong,
       [](std::string&, update::Manifest& m) { m.entries[2].sha256.bytes[0] ^= 1; }},
      {"content of another size", 1, SpanOutcome::EntryWrong,
       [](std::string&, update::Manifest& m) { m.entries[1].size -= 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string bytes = bytes_;
    const update::Manifest original = manifest_;
    c.change(bytes, manifest_);
    const std::vector<update::FetchRange> range = update::CoalesceSpans(manifest_, {c.entry});
    EXPECT_EQ(c.outcome, Feed(range[0], bytes));
    EXPECT_EQ("", StagedBytes(c.entry));
    ExpectNoLeftovers();
    manifest_ = original;
  }
}

TEST_F(SpanStaging, ARangeCutShortKeepsTheEntriesBeforeTheCut) {
  const std::vector<update::FetchRange> ranges = update::CoalesceSpans(manifest_, {1, 2, 3}, UINT64_MAX);
  update::RangeStager stager(manifest_, ranges[0], Staged());
  const std::uint64_t cut = manifest_.entries[3].spanOffset + 100 - ranges[0].offset;
  ASSERT_TRUE(stager.OnBody(bytes_.data() + ranges[0].offset, static_cast<std::size_t>(cut)));
  EXPECT_EQ(SpanOutcome::SpanWrong, stager.Finish());
  EXPECT_EQ(stager.StagedCount(), 2u);
  EXPECT_EQ(stager.FailedName(), "noise.bin");
  EXPECT_EQ(contents_[0], StagedBytes(1));
  EXPECT_EQ(contents_[1], StagedBytes(2));
  EXPECT_EQ("", StagedBytes(3));
}

}  // namespace
