// The installed client checked against its archive: which files are found
// missing, of another size or of other content, what is read, and how the
// progress moves.
#include "update/verify/client_verify.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <algorithm>
#include <functional>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/zip_fixture.h"

namespace {

namespace fs = std::filesystem;
using update::EntryDamage;
using update::VerifyOutcome;

// More than two read blocks, so that a change in the last one is only seen
// when every block is checksummed.
const std::string kLarge = [] {
  std::string data(2 * update::kVerifyBlockSize + 4321, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 5);
  return data;
}();

const std::vector<testing_zip::ZipEntry> kClient = {
    {"TLVR.exe", "MZ game", 0x20, false},
    {"data/", "", 0x10, true},
    {"data/a.pak", "pak contents", 0x20, true},
    {"data/big.pak", kLarge, 0x20, false},
    {"data/empty.txt", "", 0x20, false},
    {"maps/deep/level1.map", "map of level one", 0x20, false},
};

class ClientVerify : public testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("verify_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(Game());
    archive_ = (root_ / "ClientContent").string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  fs::path Game() const { return root_ / "Game"; }

  void Install(const std::vector<testing_zip::ZipEntry>& entries) {
    ASSERT_TRUE(testing_zip::WriteZip(archive_, entries));
    for (const testing_zip::ZipEntry& e : entries) {
      const fs::path target = Game() / e.name;
      if (e.name.back() == '/') {
        fs::create_directories(target);
        continue;
      }
      fs::create_directories(target.parent_path());
      Write(target, e.data);
    }
  }

  static void Write(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  static std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  update::VerifyReport Verify(const update::VerifyProgress& progress = nullptr) const {
    return update::VerifyClient(Game().string().c_str(), archive_.c_str(), progress);
  }

  fs::path root_;
  std::string archive_;
};

std::uint64_t DeclaredFileBytes(const std::vector<testing_zip::ZipEntry>& entries) {
  std::uint64_t total = 0;
  for (const testing_zip::ZipEntry& e : entries) total += e.data.size();
  return total;
}

TEST_F(ClientVerify, IntactClientHasNoDamageAndEveryByteIsRead) {
  Install(kClient);
  const update::VerifyReport report = Verify();
  EXPECT_EQ(VerifyOutcome::Verified, report.outcome);
  EXPECT_TRUE(report.damaged.empty());
  EXPECT_EQ(5u, report.filesChecked);  // the directory entry is not a file
  EXPECT_EQ(DeclaredFileBytes(kClient), report.bytesRead);
}

TEST_F(ClientVerify, TheThreadsAskedForShareThePiecesButNeverOutnumberThem) {
  Install(kClient);  // five file entries, each one piece
  const unsigned byDefault = update::VerifyDefaultThreads();
  ASSERT_GE(byDefault, 1u);
  ASSERT_LE(byDefault, update::kVerifyMaxDefaultThreads);
  struct Case {
    unsigned asked;
    std::uint32_t used;
  };
  const Case cases[] = {{1, 1}, {3, 3}, {9, 5}, {0, std::min(byDefault, 5u)}};
  for (const Case& c : cases) {
    SCOPED_TRACE("asked for " + std::to_string(c.asked));
    const update::VerifyReport report =
        update::VerifyClient(Game().string().c_str(), archive_.c_str(), nullptr, nullptr, c.asked);
    EXPECT_EQ(VerifyOutcome::Verified, report.outcome);
    EXPECT_TRUE(report.damaged.empty());
    EXPECT_EQ(DeclaredFileBytes(kClient), report.bytesRead);
    EXPECT_EQ(c.used, report.threads);
  }
}

TEST_F(ClientVerify, EachKindOfDamageIsFoundAndNamed) {
  struct Case {
    const char* label;
    const char* entry;
    std::function<void(const fs::path&)> damage;
    EntryDamage expected;
  };
  const std::vector<Case> cases = {
      {"deleted", "TLVR.exe", [](const fs::path& p) { fs::remove(p); }, EntryDamage::Missing},
      {"folder deleted", "maps/deep/level1.map", [](const fs::path& p) { fs::remove_all(p.parent_path()); },
       EntryDamage::Missing},
      {"truncated", "data/a.pak", [](const fs::path& p) { fs::resize_file(p, 3); }, EntryDamage::SizeDiffers},
      {"grown", "data/empty.txt", [](const fs::path& p) { Write(p, "x"); }, EntryDamage::SizeDiffers},
      {"one byte changed in the first block", "data/big.pak",
       [](const fs::path& p) {
         std::string bytes = Read(p);
         bytes[10] = static_cast<char>(bytes[10] ^ 1);
         Write(p, bytes);
       },
       EntryDamage::ContentDiffers},
      {"one byte changed in the last block", "data/big.pak",
       [](const fs::path& p) {
         std::string bytes = Read(p);
         bytes[bytes.size() - 1] = static_cast<char>(bytes.back() ^ 0x80);
         Write(p, bytes);
       },
       EntryDamage::ContentDiffers},
      {"same size, other text", "maps/deep/level1.map", [](const fs::path& p) { Write(p, "map of level 1!!"); },
       EntryDamage::ContentDiffers},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove_all(Game());
    fs::create_directories(Game());
    Install(kClient);
    c.damage(Game() / c.entry);
    const update::VerifyReport report = Verify();
    EXPECT_EQ(VerifyOutcome::Verified, report.outcome);
    ASSERT_EQ(1u, report.damaged.size());
    EXPECT_EQ(c.entry, report.damaged[0].name);
    EXPECT_EQ(c.expected, report.damaged[0].damage);
    EXPECT_EQ(5u, report.filesChecked);
  }
}

TEST_F(ClientVerify, SeveralDamagedFilesAreListedInArchiveOrderAndOthersAreLeftAlone) {
  Install(kClient);
  fs::remove(Game() / "TLVR.exe");
  fs::resize_file(Game() / "data/big.pak", 100);
  Write(Game() / "data/a.pak", "pak cont3nts");
  Write(Game() / "save.dat", "the player's own");
  fs::create_directories(Game() / "screenshots");
  const auto saved = fs::last_write_time(Game() / "save.dat");

  const update::VerifyReport report = Verify();
  ASSERT_EQ(VerifyOutcome::Verified, report.outcome);
  const std::vector<std::pair<std::string, EntryDamage>> expected = {
      {"TLVR.exe", EntryDamage::Missing},
      {"data/a.pak", EntryDamage::ContentDiffers},
      {"data/big.pak", EntryDamage::SizeDiffers},
  };
  ASSERT_EQ(expected.size(), report.damaged.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].first, report.damaged[i].name);
    EXPECT_EQ(expected[i].second, report.damaged[i].damage);
  }
  // Files of the wrong size are not read at all.
  EXPECT_EQ(std::string("pak contents").size() + std::string("map of level one").size(), report.bytesRead);
  EXPECT_EQ("the player's own", Read(Game() / "save.dat"));
  EXPECT_EQ(saved, fs::last_write_time(Game() / "save.dat"));
}

TEST_F(ClientVerify, ASelectionComparesOnlyTheNamedFiles) {
  Install(kClient);
  fs::remove(Game() / "TLVR.exe");
  fs::resize_file(Game() / "data/a.pak", 1);
  const std::vector<std::string> only = {"data/a.pak", "maps/deep/level1.map", "not/in/archive.txt"};
  const update::VerifyReport report =
      update::VerifyClient(Game().string().c_str(), archive_.c_str(), nullptr, &only);
  ASSERT_EQ(VerifyOutcome::Verified, report.outcome);
  EXPECT_EQ(2u, report.filesChecked);
  ASSERT_EQ(1u, report.damaged.size());  // TLVR.exe is missing too, but was not asked about
  EXPECT_EQ("data/a.pak", report.damaged[0].name);
  EXPECT_EQ(std::string("map of level one").size(), report.bytesRead);
}

TEST_F(ClientVerify, ProgressClimbsToTheDeclaredTotal) {
  Install(kClient);
  fs::remove(Game() / "TLVR.exe");  // a missing file still advances the bar
  std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
  const update::VerifyReport report =
      Verify([&](std::uint64_t done, std::uint64_t total) { calls.emplace_back(done, total); });
  ASSERT_EQ(VerifyOutcome::Verified, report.outcome);
  const std::uint64_t total = DeclaredFileBytes(kClient);
  ASSERT_GE(calls.size(), 4u);  // the start, the large file's blocks, the end
  EXPECT_EQ(0u, calls.front().first);
  EXPECT_EQ(total, calls.back().first);
  std::size_t inLargeFile = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(total, calls[i].second);
    if (i > 0) {
      EXPECT_LE(calls[i - 1].first, calls[i].first);
    }
    if (calls[i].first > 30 && calls[i].first < 30 + kLarge.size()) ++inLargeFile;
  }
  EXPECT_GE(inLargeFile, 2u);  // the bar moves while a large file is read
}

TEST_F(ClientVerify, ArchivesThatCannotBeUsed) {
  struct Case {
    const char* label;
    std::vector<testing_zip::ZipEntry> entries;  // empty with `raw` set: the raw bytes below
    std::string raw;
    VerifyOutcome outcome;
    std::string refused;
  };
  const std::string emptyArchive = std::string("PK\x05\x06") + std::string(18, '\0');
  const std::vector<Case> cases = {
      {"not an archive", {}, "<html>404 Not Found</html>", VerifyOutcome::ArchiveUnreadable, ""},
      {"missing", {}, "", VerifyOutcome::ArchiveUnreadable, ""},
      {"reaches outside", {{"ok.txt", "fine"}, {"../outside.txt", "no"}}, "", VerifyOutcome::EntryRefused,
       "../outside.txt"},
      {"drive path", {{"C:/x.txt", "no"}}, "", VerifyOutcome::EntryRefused, "C:/x.txt"},
      {"device name", {{"data/nul.txt", "no"}}, "", VerifyOutcome::EntryRefused, "data/nul.txt"},
      {"name too long for the client path", {{std::string(250, 'n') + ".pak", "x"}}, "",
       VerifyOutcome::EntryRefused, std::string(250, 'n') + ".pak"},
      {"no entries", {}, emptyArchive, VerifyOutcome::Verified, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    fs::remove(archive_);
    if (!c.entries.empty()) {
      ASSERT_TRUE(testing_zip::WriteZip(archive_, c.entries));
    } else if (!c.raw.empty()) {
      Write(archive_, c.raw);
    }
    int calls = 0;
    const update::VerifyReport report = Verify([&](std::uint64_t, std::uint64_t) { ++calls; });
    EXPECT_EQ(c.outcome, report.outcome);
    EXPECT_EQ(c.refused, report.refusedName);
    EXPECT_TRUE(report.damaged.empty());
    EXPECT_EQ(0u, report.filesChecked);
    EXPECT_EQ(0u, report.bytesRead);
    if (c.outcome != VerifyOutcome::Verified) {
      EXPECT_EQ(0, calls);  // refused before anything was read
    }
  }
}

TEST_F(ClientVerify, FilesOfSeveralPiecesAreJoinedInOrder) {
  // Three pieces and a bit; the pieces may be checksummed by different threads.
  std::string data(3 * update::kVerifyPieceSize + 77, '\0');
  std::uint32_t state = 2463534242u;  // xorshift: no period that a piece could line up with
  for (char& c : data) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    c = static_cast<char>(state);
  }
  std::string swapped = data;  // two pieces exchanged: every piece's CRC is still found, in another order
  std::swap_ranges(swapped.begin(), swapped.begin() + update::kVerifyPieceSize,
                   swapped.begin() + update::kVerifyPieceSize);
  std::string lastByte = data;
  lastByte.back() = static_cast<char>(lastByte.back() ^ 4);
  std::string middle = data;
  middle[update::kVerifyPieceSize * 2 + 5] = static_cast<char>(middle[update::kVerifyPieceSize * 2 + 5] ^ 1);
  const std::string shorter = data.substr(0, data.size() - 1);
  struct Case {
    const char* label;
    const std::string* bytes;  // null: the file is deleted
    std::optional<EntryDamage> damage;
    std::uint64_t bytesRead;
  };
  const Case cases[] = {{"intact", &data, std::nullopt, data.size() + 5},
                        {"pieces swapped", &swapped, EntryDamage::ContentDiffers, data.size() + 5},
                        {"last byte changed", &lastByte, EntryDamage::ContentDiffers, data.size() + 5},
                        {"a byte of the third piece changed", &middle, EntryDamage::ContentDiffers, data.size() + 5},
                        {"one byte short", &shorter, EntryDamage::SizeDiffers, 5},
                        {"deleted", nullptr, EntryDamage::Missing, 5}};
  Install({{"big.pak", data, 0x20, true}, {"small.txt", "small", 0x20, false}});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (c.bytes != nullptr) {
      Write(Game() / "big.pak", *c.bytes);
    } else {
      fs::remove(Game() / "big.pak");
    }
    std::uint64_t lastDone = 0;
    const update::VerifyReport report = Verify([&](std::uint64_t done, std::uint64_t) { lastDone = done; });
    ASSERT_EQ(VerifyOutcome::Verified, report.outcome);
    EXPECT_EQ(c.bytesRead, report.bytesRead);
    EXPECT_EQ(data.size() + 5, lastDone);
    ASSERT_EQ(c.damage ? 1u : 0u, report.damaged.size());
    if (c.damage) {
      EXPECT_EQ("big.pak", report.damaged[0].name);
      EXPECT_EQ(*c.damage, report.damaged[0].damage);
    }
  }
}

TEST_F(ClientVerify, LargeDeclaredFilesFoundMissingOrShortAreNotRead) {
  // Nearly 4 GiB each, declared only: the files on disk are sized before any
  // piece is made, and their declared bytes still count as done.
  const std::uint64_t size = 0xFFFFFFFEu;
  Write(Game() / "short.bin", "abc");
  ASSERT_TRUE(testing_zip::WriteDeclaredZip(archive_, {{"gone.bin", size, 0}, {"short.bin", size, 0}}));
  std::uint64_t lastDone = 0, lastTotal = 0;
  const update::VerifyReport report = Verify([&](std::uint64_t done, std::uint64_t total) {
    lastDone = done;
    lastTotal = total;
  });
  ASSERT_EQ(VerifyOutcome::Verified, report.outcome);
  ASSERT_EQ(2u, report.damaged.size());
  EXPECT_EQ(EntryDamage::Missing, report.damaged[0].damage);
  EXPECT_EQ(EntryDamage::SizeDiffers, report.damaged[1].damage);
  EXPECT_EQ(0u, report.bytesRead);
  EXPECT_EQ(2 * size, lastTotal);
  EXPECT_EQ(2 * size, lastDone);
}

TEST(VerifyPercent, NeverOverflowsOrPassesAHundred) {
  struct Case {
    std::uint64_t done, total;
    std::int32_t percent;
  } cases[] = {
      {0, 0, 100},   {0, 200, 0},   {50, 200, 25}, {199, 200, 99}, {200, 200, 100}, {300, 200, 100},
      {std::uint64_t{1} << 55, std::uint64_t{1} << 56, 50},
  };
  for (const Case& c : cases) EXPECT_EQ(c.percent, update::VerifyPercent(c.done, c.total)) << c.done << "/" << c.total;
}

TEST_F(ClientVerify, DeclaredSizeAndCrcAreWhatIsCompared) {
  // An archive that only declares its files: the verifier reads no entry data.
  Write(Game() / "a.bin", "abc");
  const std::uint32_t crcOfAbc = 0x352441c2u;
  ASSERT_TRUE(testing_zip::WriteDeclaredZip(archive_, {{"a.bin", 3, crcOfAbc}, {"b.bin", 3, crcOfAbc}}));
  Write(Game() / "b.bin", "abd");
  const update::VerifyReport report = Verify();
  ASSERT_EQ(VerifyOutcome::Verified, report.outcome);
  ASSERT_EQ(1u, report.damaged.size());
  EXPECT_EQ("b.bin", report.damaged[0].name);
  EXPECT_EQ(EntryDamage::ContentDiffers, report.damaged[0].damage);
}

}  // namespace
