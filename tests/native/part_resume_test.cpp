// Whether an archive part is continued or started over, from its record, its
// size and the server's answer; and the share the upper bar shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "update/transfer/part_resume.h"

namespace {

using update::PartStart;
using update::RangeAnswer;

update::Sha256Digest DigestOf(std::uint8_t fill) {
  update::Sha256Digest digest;
  std::memset(digest.bytes, fill, sizeof digest.bytes);
  return digest;
}

TEST(PartResume, RecordNamesOnlyItsOwnDigest) {
  char record[update::kPartRecordSize + 1] = {};
  update::FormatPartRecord(DigestOf(0xab), record);
  const std::string text = record;
  ASSERT_EQ(update::kPartRecordSize, text.size());
  EXPECT_EQ('\n', text.back());
  struct Case { std::string text; bool matches; };
  const Case cases[] = {
      {text, true},
      {text.substr(0, 64), true},                     // no line end
      {text.substr(0, 64) + "\r\n", true},
      {std::string(64, 'A'), false},                  // another digest, upper case
      {std::string(64, 'a') + std::string(2, 'b'), false},
      {text.substr(0, 63), false},                    // cut by a crash
      {text + "x", false},
      {std::string(62, 'a') + "zz", false},
      {"", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.matches, update::PartRecordMatches(c.text.data(), c.text.size(), DigestOf(0xab))) << c.text;
  EXPECT_FALSE(update::PartRecordMatches(text.data(), text.size(), DigestOf(0xac)));
  EXPECT_FALSE(update::PartRecordMatches(nullptr, 0, DigestOf(0xab)));
}

TEST(PartResume, PartIsContinuedOnlyWhenItsRecordMatchesAndItFits) {
  update::ArchiveExpectation sized;
  sized.hasDigest = true;
  sized.hasSize = true;
  sized.size = 1000;
  update::ArchiveExpectation unsized = sized;
  unsized.hasSize = false;
  update::ArchiveExpectation noDigest = sized;
  noDigest.hasDigest = false;
  struct Case { bool record; std::uint64_t size; const update::ArchiveExpectation* expected; PartStart start; };
  const Case cases[] = {
      {true, 400, &sized, PartStart::Continue},
      {true, 999, &sized, PartStart::Continue},
      {true, 1000, &sized, PartStart::Complete},
      {true, 1001, &sized, PartStart::Fresh},   // longer than the archive: not this archive's part
      {true, 0, &sized, PartStart::Fresh},
      {false, 400, &sized, PartStart::Fresh},   // another digest's part
      {true, 5000, &unsized, PartStart::Continue},
      {true, 400, &noDigest, PartStart::Fresh},  // no digest, no resume
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.start, update::DecidePartStart(c.record, c.size, *c.expected)) << c.size << " " << c.record;
}

TEST(PartResume, OnlyA206ContinuesThePart) {
  struct Case { std::int32_t status; RangeAnswer answer; };
  const Case cases[] = {
      {206, RangeAnswer::Continues}, {200, RangeAnswer::Restarts}, {416, RangeAnswer::StartOver},
      {503, RangeAnswer::Other},     {404, RangeAnswer::Other},    {0, RangeAnswer::Other},
  };
  for (const Case& c : cases) EXPECT_EQ(c.answer, update::ClassifyRangeAnswer(c.status)) << c.status;
}

TEST(PartResume, UpperBarCountsTheBytesAlreadyOnDisk) {
  EXPECT_EQ(60, update::ResumedPercent(600, 0, 400));    // continues at 60 %, not 0
  EXPECT_EQ(80, update::ResumedPercent(600, 200, 400));
  EXPECT_EQ(100, update::ResumedPercent(600, 400, 400));
  EXPECT_EQ(50, update::ResumedPercent(0, 200, 400));
  // No total yet: the bar shows 0 % as for a fresh transfer.
  EXPECT_EQ(update::ResumedPercent(0, 0, 0), update::ResumedPercent(600, 0, 0));
}

}  // namespace
