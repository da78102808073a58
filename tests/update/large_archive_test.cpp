// Archives past 4 GiB and past 65,535 entries, as the launcher reads them on
// both Windows targets: the big entry is a hole of zeros in a sparse file, so
// it costs no disk; the entries after it start past 4 GiB.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/sparse_zip.h"
#include "tests/update/launcher_folder.h"
#include "tests/update/test_support.h"
#include "tools/pack/client_tree.h"
#include "tools/pack/zip_writer.h"
#include "update/install/archive_reader.h"
#include "update/verify/client_verify.h"
#include "update/install/commit.h"

namespace {

using namespace testing_update;

constexpr std::uint64_t kBig = (std::uint64_t{4} << 30) + (std::uint64_t{300} << 20);  // 4.3 GiB
const std::string kDeflated = std::string(5000, 'd') + "past 4 GiB";

class LargeArchive : public LauncherFolderTest {
 protected:
  // big.pak (4.3 GiB of zeros) first, then a folder, a deflated and a stored
  // file whose local headers lie past 4 GiB.
  void WriteBigArchive() {
    testing_zip::SparseZipFacts facts;
    ASSERT_TRUE(testing_zip::WriteSparseZip(Archive(),
                                            {{"big.pak", "", kBig},
                                             {"data/", "", 0, false, 0x10},
                                             {"data/a.txt", kDeflated, 0, true},
                                             {"b.txt", "stored past 4 GiB"}},
                                            &facts));
    ASSERT_GT(facts.localHeaderOffsets[2], std::uint64_t{0xFFFFFFFF});
    ASSERT_GT(facts.size, kBig);
  }

};

TEST_F(LargeArchive, EntriesPastFourGiBAreReadInstalledAndVerified) {
  ASSERT_NO_FATAL_FAILURE(WriteBigArchive());

  update::ArchiveReader reader(Archive().c_str());
  ASSERT_EQ(update::ArchiveReader::State::Open, reader.OpenState()) << Log();
  EXPECT_EQ(4u, reader.Count());
  std::uint64_t fileBytes = 0;
  ASSERT_TRUE(reader.CheckNames(Game().c_str(), &fileBytes));
  EXPECT_GE(fileBytes, kBig);  // the free-space sum holds the whole big entry

  // The entries past 4 GiB are read from where their headers say and checked.
  const update::CommitPlace place = Place();
  const std::set<std::string> selection = {"data/a.txt", "b.txt"};
  std::uint64_t committed = 0;
  ASSERT_EQ(update::InstallResult::Installed,
            update::InstallUpdate(place, Archive().c_str(), 2, nullptr, &selection, &committed))
      << Log();
  update::EndCommit(place);
  EXPECT_EQ(2u, committed);
  EXPECT_EQ(kDeflated, ReadWholeFile(Game() + "\\data\\a.txt"));
  EXPECT_EQ("stored past 4 GiB", ReadWholeFile(Game() + "\\b.txt"));

  // Verification walks the same directory: the small files are intact, the
  // big one is reported missing with its declared size.
  const update::VerifyReport report = update::VerifyClient(Game().c_str(), Archive().c_str());
  ASSERT_EQ(update::VerifyOutcome::Verified, report.outcome);
  EXPECT_EQ(3u, report.filesChecked);
  ASSERT_EQ(1u, report.damaged.size());
  EXPECT_EQ("big.pak", report.damaged[0].name);
  EXPECT_EQ(update::EntryDamage::Missing, report.damaged[0].damage);
  EXPECT_EQ(kDeflated.size() + 17, report.bytesRead);
}

// More than 65,535 entries: the count comes from the zip64 end record.
TEST_F(LargeArchive, EntryCountPastTheClassicLimitIsRead) {
  std::vector<testing_zip::SparseEntry> entries;
  constexpr std::uint64_t kCount = 70000;
  for (std::uint64_t i = 0; i < kCount; ++i) entries.push_back({"f/" + std::to_string(i), "x"});
  ASSERT_TRUE(testing_zip::WriteSparseZip(Archive(), entries));

  update::ArchiveReader reader(Archive().c_str());
  ASSERT_EQ(update::ArchiveReader::State::Open, reader.OpenState()) << Log();
  EXPECT_EQ(kCount, reader.Count());
  std::uint64_t fileBytes = 0;
  EXPECT_TRUE(reader.CheckNames(Game().c_str(), &fileBytes));
}

// The pack tool's archive of a folder with a file past 4 GiB (sparse here;
// deflated, the archive stays small) installs whole and verifies.
TEST_F(LargeArchive, PackedFilePastFourGiBInstallsAndVerifies) {
  const std::string client = dir_ / "client";
  ASSERT_TRUE(::CreateDirectoryA(client.c_str(), nullptr));
  ASSERT_TRUE(WriteWholeFile(client + "\\a.txt", "before"));
  ASSERT_TRUE(WriteWholeFile(client + "\\z.txt", "after the big file"));
  constexpr std::uint64_t kPacked = (std::uint64_t{4} << 30) + 4096;
  {
    base::UniqueHandle big(::CreateFileA((client + "\\big.pak").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(big.Valid());
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(kPacked);
    ASSERT_TRUE(::SetFilePointerEx(big.Get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(big.Get()));
  }
  std::vector<std::string> errors;
  const std::vector<pack::PackEntry> entries = pack::CollectClientEntries(std::filesystem::u8path(client), &errors);
  ASSERT_TRUE(errors.empty()) << errors.front();
  std::string error;
  ASSERT_TRUE(pack::WriteClientArchive(std::filesystem::u8path(Archive()), entries, &error)) << error;

  const update::CommitPlace place = Place();
  ASSERT_EQ(update::InstallResult::Installed, update::InstallUpdate(place, Archive().c_str(), 2)) << Log();
  update::EndCommit(place);
  EXPECT_EQ("after the big file", ReadWholeFile(Game() + "\\z.txt"));
  const update::VerifyReport report = update::VerifyClient(Game().c_str(), Archive().c_str());
  ASSERT_EQ(update::VerifyOutcome::Verified, report.outcome);
  EXPECT_EQ(3u, report.filesChecked);
  EXPECT_TRUE(report.damaged.empty());
  EXPECT_EQ(kPacked + 6 + 18, report.bytesRead);
}

}  // namespace
