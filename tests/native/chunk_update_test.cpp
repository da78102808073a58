// Files deflated in chunks, from the pack tool's cuts to a file rebuilt from
// the installed one: boundaries follow the content, every chunk inflates
// alone, a small change costs a few chunks, and nothing that fails its hash
// (an old chunk, a fetched one) reaches the rebuilt file.
#include <gtest/gtest.h>

#include <sodium.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/file_bytes.h"
#include "tools/pack/chunk_boundaries.h"
#include "tools/pack/client_tree.h"
#include "tools/pack/manifest_builder.h"
#include "tools/pack/zip_writer.h"
#include "update/incremental/chunk_staging.h"
#include "update/manifest/chunk_plan.h"

namespace {

namespace fs = std::filesystem;
using testing_files::ReadWholeFile;
using testing_files::WriteWholeFile;
using update::ChunkSourceKind;

std::string Noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::vector<std::uint64_t> Cuts(const std::string& bytes) {
  pack::ChunkCutter cutter;
  std::vector<std::uint64_t> cuts;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  std::uint64_t at = 0;
  for (std::size_t left = bytes.size(); left != 0;) {
    bool cut = false;
    const std::size_t n = cutter.Scan(data, std::min<std::size_t>(left, 100000), &cut);
    at += n;
    data += n;
    left -= n;
    if (cut) cuts.push_back(at);
  }
  return cuts;
}

TEST(ChunkCutter, BoundariesKeepTheirBoundsAndAnInsertionMovesOnlyThoseNearIt) {
  const std::string before = Noise(24u << 20, 1);
  std::string after = before;
  const std::size_t insertAt = 9u << 20;
  after.insert(insertAt, Noise(10 * 1024, 2));
  const std::vector<std::uint64_t> a = Cuts(before);
  const std::vector<std::uint64_t> b = Cuts(after);
  std::uint64_t previous = 0;
  for (std::uint64_t cut : a) {
    EXPECT_GE(cut - previous, pack::kMinChunkBytes);
    EXPECT_LE(cut - previous, pack::kMaxChunkBytes);
    previous = cut;
  }
  EXPECT_GT(a.size(), 12u);  // about 1 MiB each
  EXPECT_LT(a.size(), 40u);
  // Before the insertion nothing moves; some 4 MiB after it every boundary is
  // the old one, shifted by what was inserted.
  for (std::uint64_t cut : a) {
    if (cut <= insertAt) {
      EXPECT_NE(b.end(), std::find(b.begin(), b.end(), cut)) << cut;
    }
    if (cut > insertAt + pack::kMaxChunkBytes) {
      EXPECT_NE(b.end(), std::find(b.begin(), b.end(), cut + 10 * 1024)) << cut;
    }
  }
  // Content that never meets the condition is cut at the maximum.
  const std::vector<std::uint64_t> flat = Cuts(std::string(9u << 20, '\0'));
  ASSERT_FALSE(flat.empty());
  EXPECT_TRUE(flat[0] == pack::kMinChunkBytes || flat[0] == pack::kMaxChunkBytes) << flat[0];
}

// Two versions of one large file, each packed with its manifest, and a Game
// folder that holds the first.
class ChunkRebuild : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    root_ = new fs::path(fs::temp_directory_path() / ("chunk_rebuild_" + std::to_string(::getpid())));
    fs::remove_all(*root_);
    fs::create_directories(*root_ / "game");
    v1_ = new std::string(Noise(10u << 20, 3));
    v2_ = new std::string(*v1_);
    v2_->replace(5u << 20, 64 * 1024, Noise(64 * 1024, 4));  // overwritten in the middle
    v2_->insert(v2_->size() - (1u << 20), Noise(10 * 1024, 5));  // inserted near the end
    m1_ = new update::Manifest(Pack(*v1_, "v1"));
    m2_ = new update::Manifest(Pack(*v2_, "v2"));
    archive2_ = new std::string(ReadWholeFile((*root_ / "v2.zip").string()));
  }
  static void TearDownTestSuite() {
    std::error_code ignored;
    fs::remove_all(*root_, ignored);
  }
  void SetUp() override {
    ASSERT_TRUE(WriteWholeFile(Installed(), *v1_));
    fs::remove_all(*root_ / "fetched");
    fs::create_directories(*root_ / "fetched");
  }

  static update::Manifest Pack(const std::string& content, const std::string& name) {
    const fs::path client = *root_ / (name + "-client");
    fs::create_directories(client);
    EXPECT_TRUE(WriteWholeFile((client / "big.pak").string(), content));
    EXPECT_TRUE(WriteWholeFile((client / "small.txt").string(), "small"));
    std::vector<std::string> refused;
    const std::vector<pack::PackEntry> entries = pack::CollectClientEntries(client, &refused);
    pack::ChunkLayout layout;
    std::string error;
    const fs::path archive = *root_ / (name + ".zip");
    EXPECT_TRUE(pack::WriteClientArchive(archive, entries, &error, &layout)) << error;
    update::Manifest manifest;
    EXPECT_TRUE(pack::BuildManifest(archive, &manifest, &error, &layout)) << error;
    EXPECT_EQ(2u, manifest.entries.size());
    EXPECT_TRUE(manifest.entries[1].chunks.empty()) << "small files stay whole";
    return manifest;
  }

  static std::string Installed() { return (*root_ / "game" / "big.pak").string(); }
  static std::string Fetched() { return (*root_ / "fetched").string(); }
  static std::string StagedPath() { return (*root_ / "fetched" / "staged").string(); }

  update::RebuildPlan Plan(const update::ManifestEntry* installed) {
    update::FileChunkProbe probe((*root_ / "game").string(), Fetched());
    return update::PlanRebuild(*m2_, 0, installed, probe);
  }

  // Fetches the plan's chunks from the second archive's bytes (`body`, or
  // the archive itself), as range requests would deliver them.
  update::SpanOutcome FetchChunks(const update::RebuildPlan& plan, const std::string* body = nullptr) {
    const std::vector<update::ChunkPiece> pieces = update::PiecesToFetch(*m2_, {plan});
    for (const update::FetchRange& range : update::CoalesceChunks(*m2_, pieces)) {
      update::ChunkRangeStager stager(*m2_, pieces, range, Fetched());
      const std::string& bytes = body ? *body : *archive2_;
      stager.OnBody(bytes.data() + range.offset, static_cast<std::size_t>(range.length));
      const update::SpanOutcome outcome = stager.Finish();
      if (outcome != update::SpanOutcome::Staged) return outcome;
    }
    return update::SpanOutcome::Staged;
  }

  update::RebuildOutcome Rebuild(const update::RebuildPlan& plan) {
    return update::RebuildFile(*m2_, plan, Installed(), Fetched(), StagedPath());
  }

  static fs::path* root_;
  static std::string* v1_;
  static std::string* v2_;
  static std::string* archive2_;
  static update::Manifest* m1_;
  static update::Manifest* m2_;
};

fs::path* ChunkRebuild::root_;
std::string* ChunkRebuild::v1_;
std::string* ChunkRebuild::v2_;
std::string* ChunkRebuild::archive2_;
update::Manifest* ChunkRebuild::m1_;
update::Manifest* ChunkRebuild::m2_;

TEST_F(ChunkRebuild, EveryChunkInflatesAloneAndIsTheFilesBytes) {
  const update::ManifestEntry& big = m2_->entries[0];
  ASSERT_GT(big.chunks.size(), 5u);
  for (const update::ManifestChunk& chunk : big.chunks) {
    std::string bytes;
    ASSERT_TRUE(update::InflateChunkAlone(archive2_->data() + big.ChunkDataAt(chunk),
                                          static_cast<std::size_t>(chunk.dataLength), chunk.length, &bytes));
    EXPECT_EQ(v2_->substr(static_cast<std::size_t>(chunk.offset), static_cast<std::size_t>(chunk.length)), bytes);
  }
}

TEST_F(ChunkRebuild, AnyUnzipReadsTheChunkedArchive) {
  // minizip read every entry back while the manifest was made; Info-ZIP's
  // own test of every entry's CRC-32 passes too.
  const std::string command = "unzip -tq '" + (*root_ / "v2.zip").string() + "' >/dev/null";
  EXPECT_EQ(0, std::system(command.c_str())) << command;
}

TEST_F(ChunkRebuild, ASmallChangeFetchesAFewChunksAndTheRebuiltFileIsTheNewOne) {
  struct Case {
    const char* label;
    bool withInstalledManifest;
    bool damageOldChunk;  // a byte of the installed file's first chunk flipped
    std::size_t maxFetched;
  };
  const Case cases[] = {
      {"by the installed manifest", true, false, 3},
      {"a damaged old chunk is fetched instead", true, true, 4},
      {"without a manifest: chunks in place", false, false, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();
    if (c.damageOldChunk) {
      std::string damaged = *v1_;
      damaged[1000] ^= 1;
      ASSERT_TRUE(WriteWholeFile(Installed(), damaged));
    }
    update::RebuildPlan plan = Plan(c.withInstalledManifest ? &m1_->entries[0] : nullptr);
    EXPECT_GT(plan.fetchCount, 0u);
    if (c.withInstalledManifest) {
      EXPECT_LT(plan.fetchCount, m2_->entries[0].chunks.size() / 2);
    }
    ASSERT_EQ(update::SpanOutcome::Staged, FetchChunks(plan));
    // The manifest vouched for the damaged chunk; the copy finds it out, and
    // that chunk alone is fetched instead.
    std::vector<std::size_t> failed;
    const update::RebuildOutcome first = update::RebuildFile(*m2_, plan, Installed(), Fetched(), StagedPath(), &failed);
    EXPECT_EQ(c.damageOldChunk ? update::RebuildOutcome::SourceChanged : update::RebuildOutcome::Staged, first);
    EXPECT_EQ(c.damageOldChunk ? std::vector<std::size_t>{0} : std::vector<std::size_t>{}, failed);
    if (first == update::RebuildOutcome::SourceChanged) {
      EXPECT_FALSE(fs::exists(StagedPath()));
      update::FetchInstead(&plan, *m2_, failed);
      ASSERT_EQ(update::SpanOutcome::Staged, FetchChunks(plan));
      ASSERT_EQ(update::RebuildOutcome::Staged, Rebuild(plan));
    }
    EXPECT_LE(plan.fetchCount, c.maxFetched);
    EXPECT_TRUE(ReadWholeFile(StagedPath()) == *v2_);
  }
}

TEST_F(ChunkRebuild, ChunksFetchedByAnEarlierRunAreKeptAndCheckedAgain) {
  const update::RebuildPlan first = Plan(&m1_->entries[0]);
  ASSERT_EQ(update::SpanOutcome::Staged, FetchChunks(first));
  const update::RebuildPlan again = Plan(&m1_->entries[0]);
  EXPECT_EQ(0u, again.fetchCount);
  EXPECT_TRUE(std::any_of(again.sources.begin(), again.sources.end(),
                          [](const update::ChunkSource& s) { return s.kind == ChunkSourceKind::Fetched; }));
  ASSERT_EQ(update::RebuildOutcome::Staged, Rebuild(again));
  EXPECT_TRUE(ReadWholeFile(StagedPath()) == *v2_);
}

TEST_F(ChunkRebuild, WhatFailsItsHashNeverReachesTheRebuiltFile) {
  const update::RebuildPlan plan = Plan(&m1_->entries[0]);
  // A fetched chunk with a flipped byte is refused and not stored.
  std::string flipped = *archive2_;
  const update::ManifestEntry& big = m2_->entries[0];
  for (std::size_t i = 0; i < plan.sources.size(); ++i)
    if (plan.sources[i].kind == ChunkSourceKind::Fetch) flipped[big.ChunkDataAt(big.chunks[i]) + 100] ^= 1;
  EXPECT_EQ(update::SpanOutcome::EntryWrong, FetchChunks(plan, &flipped));
  const fs::path store = update::ChunkStoreFolder(Fetched());
  EXPECT_TRUE(!fs::exists(store) || fs::is_empty(store));

  // The installed file changed after the plan: the copy finds it out.
  ASSERT_EQ(update::SpanOutcome::Staged, FetchChunks(plan));
  ASSERT_TRUE(WriteWholeFile(Installed(), Noise(v1_->size(), 9)));
  EXPECT_EQ(update::RebuildOutcome::SourceChanged, Rebuild(plan));
  EXPECT_FALSE(fs::exists(StagedPath()));
  EXPECT_FALSE(fs::exists(StagedPath() + ".part"));
}

TEST_F(ChunkRebuild, AFileWhoseChunksPassButNotItsWholeCrcIsNotStaged) {
  // Every chunk matches its digest, but the entry's CRC-32 does not match
  // their bytes together (a manifest at odds with itself): nothing is staged.
  const update::RebuildPlan plan = Plan(&m1_->entries[0]);
  ASSERT_EQ(update::SpanOutcome::Staged, FetchChunks(plan));
  update::Manifest odd = *m2_;
  odd.entries[0].crc ^= 1;
  for (unsigned threads : {1u, 3u}) {
    SCOPED_TRACE(threads);
    EXPECT_EQ(update::RebuildOutcome::EntryWrong,
              update::RebuildFile(odd, plan, Installed(), Fetched(), StagedPath(), nullptr, threads));
    EXPECT_FALSE(fs::exists(StagedPath()));
    EXPECT_FALSE(fs::exists(StagedPath() + ".part"));
  }
  ASSERT_EQ(update::RebuildOutcome::Staged, Rebuild(plan));
  EXPECT_TRUE(ReadWholeFile(StagedPath()) == *v2_);
}

}  // namespace
