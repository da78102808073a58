// What an update with a manifest fetches and removes, decided from the
// installed manifest (or Game alone) and the new one.
#include "update/manifest/fetch_plan.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using update::FetchPlan;
using update::Manifest;
using update::ManifestEntry;

// Game as a map from names to (size, CRC-32), found as Windows finds files:
// whatever the case of their letters.
class FakeGame : public update::InstalledFiles {
 public:
  std::map<std::string, std::pair<std::uint64_t, std::uint32_t>> files;
  int crcReads = 0;
  bool FileSize(const std::string& name, std::uint64_t* size) override {
    const auto* file = Find(name);
    if (file == nullptr) return false;
    *size = file->first;
    return true;
  }
  bool FileCrc(const std::string& name, std::uint32_t* crc) override {
    ++crcReads;
    const auto* file = Find(name);
    if (file == nullptr) return false;
    *crc = file->second;
    return true;
  }

 private:
  const std::pair<std::uint64_t, std::uint32_t>* Find(const std::string& name) const {
    for (const auto& file : files)
      if (update::SameDiskName(file.first, name)) return &file.second;
    return nullptr;
  }
};

// An entry whose content is told by `content` (its digest's first byte and
// its CRC), laid at `offset` with `length` bytes of span.
ManifestEntry File(const std::string& name, std::uint64_t size, std::uint8_t content, std::uint64_t offset,
                   std::uint64_t length) {
  ManifestEntry entry;
  entry.storedName = entry.name = name;
  entry.size = size;
  entry.crc = content;
  entry.sha256.bytes[0] = content;
  entry.spanOffset = offset;
  entry.spanLength = length;
  return entry;
}

ManifestEntry Directory(const std::string& name, std::uint64_t offset) {
  ManifestEntry entry = File(name, 0, 0, offset, 40);
  entry.directory = true;
  return entry;
}

Manifest Of(std::vector<ManifestEntry> entries, std::uint64_t archiveSize = 100u << 20) {
  Manifest manifest;
  manifest.archiveSize = archiveSize;
  manifest.entries = std::move(entries);
  return manifest;
}

std::vector<std::string> FetchedNames(const Manifest& manifest, const FetchPlan& plan) {
  std::vector<std::string> names;
  for (std::size_t i : plan.fetch) names.push_back(manifest.entries[i].name);
  return names;
}

TEST(FetchPlan, FetchesWhatChangedOrIsMissingAndRemovesWhatWasDropped) {
  const Manifest installed = Of({Directory("data/", 0), File("data/a.pak", 10, 1, 100, 50),
                                 File("data/b.pak", 10, 2, 200, 50), File("old-notes.txt", 5, 3, 300, 40),
                                 Directory("retired/", 400), File("game.exe", 7, 4, 500, 40)});
  const Manifest target = Of({Directory("data/", 0), File("data/a.pak", 10, 1, 100, 50),  // unchanged
                              File("data/b.pak", 10, 9, 200, 50),                          // new content, same size
                              File("data/c.pak", 3, 5, 300, 40),                           // added
                              File("GAME.EXE", 7, 4, 400, 40)});                           // other case: same file
  FakeGame game;
  game.files = {{"data/a.pak", {10, 1}}, {"data/b.pak", {10, 2}}, {"old-notes.txt", {5, 3}},
                {"game.exe", {7, 4}}, {"screenshot.png", {9, 9}}};
  const FetchPlan plan = update::PlanFetch(target, &installed, game);
  EXPECT_EQ(FetchedNames(target, plan), (std::vector<std::string>{"data/b.pak", "data/c.pak"}));
  EXPECT_EQ(plan.removedFiles, std::vector<std::string>{"old-notes.txt"});
  EXPECT_EQ(plan.removedDirectories, std::vector<std::string>{"retired/"});
  EXPECT_EQ(game.crcReads, 0) << "the installed manifest vouches for content; no file is read";
  EXPECT_EQ(plan.spanBytes, 90u);
  EXPECT_FALSE(plan.wholeArchive);
}

TEST(FetchPlan, AFileTheManifestVouchesForIsFetchedWhenGameLostItOrItsSize) {
  const Manifest manifest = Of({File("a", 10, 1, 0, 50), File("b", 10, 2, 50, 50), File("c", 10, 3, 100, 50)});
  FakeGame game;
  game.files = {{"a", {10, 1}}, {"b", {9, 2}}};  // b truncated, c deleted
  const FetchPlan plan = update::PlanFetch(manifest, &manifest, game);
  EXPECT_EQ(FetchedNames(manifest, plan), (std::vector<std::string>{"b", "c"}));
  EXPECT_TRUE(plan.removedFiles.empty());
}

TEST(FetchPlan, WithoutAnInstalledManifestGameIsCheckedBySizeThenCrcAndNothingIsRemoved) {
  const Manifest target = Of({File("same", 10, 1, 0, 50), File("other-crc", 10, 2, 50, 50),
                              File("other-size", 10, 3, 100, 50), File("missing", 10, 4, 150, 50)});
  FakeGame game;
  game.files = {{"same", {10, 1}}, {"other-crc", {10, 7}}, {"other-size", {11, 3}}, {"stray.txt", {1, 1}}};
  const FetchPlan plan = update::PlanFetch(target, nullptr, game);
  EXPECT_EQ(FetchedNames(target, plan), (std::vector<std::string>{"other-crc", "other-size", "missing"}));
  EXPECT_EQ(game.crcReads, 2) << "only files of the right size are read";
  EXPECT_TRUE(plan.removedFiles.empty());
  EXPECT_TRUE(plan.removedDirectories.empty());
}

TEST(FetchPlan, RemovedDirectoriesComeDeepestFirst) {
  const Manifest installed = Of({Directory("a/", 0), Directory("a/b/", 40), Directory("a/b/c/", 80),
                                 Directory("z/", 120)});
  FakeGame game;
  const FetchPlan plan = update::PlanFetch(Of({Directory("z/", 0)}), &installed, game);
  EXPECT_EQ(plan.removedDirectories, (std::vector<std::string>{"a/b/c/", "a/b/", "a/"}));
}

TEST(FetchPlan, SpansCloserThanTheGapShareARequest) {
  constexpr std::uint64_t kGap = update::kMaxSpanGap;
  const Manifest manifest = Of({File("a", 1, 1, 0, 100), File("b", 1, 1, 100 + kGap, 100),  // gap exactly kGap
                                File("c", 1, 1, 200 + 2 * kGap + 1, 100),                  // one byte more
                                File("d", 1, 1, 300 + 2 * kGap + 1, 100)});                // adjacent
  const std::vector<update::FetchRange> ranges = update::CoalesceSpans(manifest, {0, 1, 2, 3});
  ASSERT_EQ(ranges.size(), 2u);
  EXPECT_EQ(ranges[0].offset, 0u);
  EXPECT_EQ(ranges[0].length, 200 + kGap);
  EXPECT_EQ(ranges[0].entries, (std::vector<std::size_t>{0, 1}));
  EXPECT_EQ(ranges[1].offset, 200 + 2 * kGap + 1);
  EXPECT_EQ(ranges[1].length, 200u);
  EXPECT_EQ(ranges[1].entries, (std::vector<std::size_t>{2, 3}));
}

TEST(FetchPlan, MoreThanHalfTheArchiveIsFetchedWhole) {
  const Manifest target = Of({File("a", 1, 1, 0, 400), File("b", 1, 1, 400, 101)}, 1000);
  FakeGame game;
  EXPECT_TRUE(update::PlanFetch(target, nullptr, game).wholeArchive);
  game.files = {{"a", {1, 1}}};
  EXPECT_FALSE(update::PlanFetch(target, nullptr, game).wholeArchive);
}

TEST(FetchPlan, NamesCompareWithoutAsciiCaseAndWithEitherSeparator) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  } const cases[] = {
      {"Data/A.pak", "data\\a.PAK", true},
      {"data/", "DATA", true},
      {"a.pak", "a.pa", false},
      // Double-byte characters are not folded: 0xC4 0x61 is one character,
      // whose trail byte is not the letter "a".
      {"\xC4\x61", "\xC4\x41", false},
      // A trail byte of 0x5C is no separator.
      {"\x95\x5C", "\x95/", false},
  };
  for (const Case& c : cases) EXPECT_EQ(update::SameDiskName(c.a, c.b), c.same) << c.a << " vs " << c.b;
}

}  // namespace
