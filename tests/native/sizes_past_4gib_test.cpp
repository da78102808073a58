// The size arithmetic of a client past 2 and 4 GiB, where a signed or
// unsigned 32-bit type would break first: the bars' percentages, the resume
// decision and offset, the free-space sum, the descriptor's Size, the
// journal's sizes and the verification's share.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "update/trust/archive_digest.h"
#include "update/verify/client_verify.h"
#include "update/install/commit_journal.h"
#include "update/transfer/part_resume.h"
#include "update/transfer_rules.h"

namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t k2GiB = 2 * kGiB;
constexpr std::uint64_t k4GiB = 4 * kGiB;
constexpr std::uint64_t k10GiB = 10 * kGiB;

std::int64_t Signed(std::uint64_t v) { return static_cast<std::int64_t>(v); }

TEST(SizesPastFourGiB, Percentages) {
  struct Case {
    const char* what;
    std::int32_t got;
    std::int32_t want;
  } cases[] = {
      {"transfer past 2 GiB", update::TransferPercent(Signed(k2GiB + 1), Signed(k4GiB)), 50},
      {"transfer past 4 GiB", update::TransferPercent(Signed(k4GiB + kGiB), Signed(k10GiB)), 50},
      {"transfer of 10 GiB done", update::TransferPercent(Signed(k10GiB), Signed(k10GiB)), 100},
      // A part of 6 GiB on disk, 1 of the remaining 4 GiB received.
      {"resumed past 4 GiB", update::ResumedPercent(6 * kGiB, Signed(kGiB), Signed(k4GiB)), 70},
      {"resumed at 3 GiB of 4", update::ResumedPercent(3 * kGiB, 0, Signed(kGiB)), 75},
      {"install, entries past 65,535", update::InstallPercent(70000, 140000), 50},
      {"verify past 4 GiB", update::VerifyPercent(k4GiB + 1, 2 * k4GiB), 50},
      {"verify of 10 GiB done", update::VerifyPercent(k10GiB, k10GiB), 100},
  };
  for (const Case& c : cases) EXPECT_EQ(c.want, c.got) << c.what;
}

TEST(SizesPastFourGiB, ResumeOfAPartPastFourGiB) {
  update::ArchiveExpectation expected;
  expected.hasDigest = true;  // only a part of a known archive is continued
  expected.hasSize = true;
  expected.size = k10GiB;
  EXPECT_EQ(update::PartStart::Continue, update::DecidePartStart(true, k4GiB + 7, expected));
  EXPECT_EQ(update::PartStart::Complete, update::DecidePartStart(true, k10GiB, expected));
  EXPECT_EQ(update::PartStart::Fresh, update::DecidePartStart(true, k10GiB + 1, expected));
}

TEST(SizesPastFourGiB, FreeSpaceSumAndDescriptorSize) {
  std::uint64_t sum = 0;
  for (int i = 0; i < 3; ++i) sum = update::AddBytes(sum, update::StagedFileBytes(k2GiB + 1));
  EXPECT_EQ(3 * (k2GiB + 4096), sum);
  std::uint64_t size = 0;
  ASSERT_TRUE(update::ParseByteCount("4617089843", &size));  // 4.3 GiB
  EXPECT_EQ(4617089843ull, size);
}

TEST(SizesPastFourGiB, JournalKeepsSizesPastFourGiB) {
  update::JournalRecord record;
  record.version = 3;
  record.entries.push_back({update::JournalEntryKind::File, 1, k4GiB + 5, "big.pak"});
  record.entries.push_back({update::JournalEntryKind::File, 2, k2GiB, "mid.pak"});
  std::string bytes;
  ASSERT_TRUE(update::FormatJournal(record, &bytes));
  update::JournalRecord read;
  ASSERT_EQ(update::JournalParse::Valid, update::ParseJournal(bytes.data(), bytes.size(), &read));
  ASSERT_EQ(2u, read.entries.size());
  EXPECT_EQ(k4GiB + 5, read.entries[0].size);
  EXPECT_EQ(k2GiB, read.entries[1].size);
}

}  // namespace
