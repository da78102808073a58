// Updates by manifest in whole worker runs against nginx: the changed entries
// fetched as ranges of the one archive (the access log shows how few bytes),
// the dropped files removed and a player's own kept, the fallback to the
// whole archive when the server ignores ranges, and a span that fails its
// check never reaching Game.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"
#include "tests/support/volume_filler.h"
#include "update/incremental/span_staging.h"
#include "update/manifest/manifest.h"
#include "tests/support/small_volume.h"

namespace {

using namespace testing_update;
using Tree = ClientTree;

class ManifestRun : public Worker {
 protected:
  void SetUp() override {
    Worker::SetUp();
    stub_ = ReadWholeFile(TEST_GAME_STUB);
    for (int i = 0; i < 30; ++i) v1_["data\\f" + std::to_string(i) + ".bin"] = Noise(20000, static_cast<unsigned>(i));
    v1_["TLVR.exe"] = stub_;
    v1_["data\\big.pak"] = Noise(8u << 20, 77);  // most of the archive, never changed
    v1_["data"] = "/";
    v1_["old-notes.txt"] = "notes of version 1";
    v1_["retired"] = "/";
    v1_["retired\\x.dat"] = "dropped with its folder";
    v2_ = v1_;
    v2_["data\\f3.bin"] = Noise(20000, 103);
    v2_["data\\f17.bin"] = Noise(21000, 117);
    v2_["data\\new.bin"] = Noise(5000, 999);
    v2_.erase("old-notes.txt");
    v2_.erase("retired");
    v2_.erase("retired\\x.dat");
  }

  // Publishes `tree` as `name` with its manifest (the archive below
  // `archivePrefix`) and returns the descriptor's URL.
  std::string Publish(int version, const Tree& tree, const std::string& name, const std::string& archivePrefix = "",
                      void (*damage)(std::string&, const update::Manifest&) = nullptr) {
    archivePath_ = archivePrefix + served_.UrlPath(name);
    return PublishAt(version, tree, name, HttpUrl(archivePath_), damage);
  }

  // The same, with the archive named at `archiveUrl`.
  std::string PublishAt(int version, const Tree& tree, const std::string& name, const std::string& archiveUrl,
                        void (*damage)(std::string&, const update::Manifest&) = nullptr) {
    const Release release = PublishRelease(served_.Path(), name, version, tree, archiveUrl,
                                           HttpUrl(served_.UrlPath(name + ".manifest")), damage);
    archiveSize_ = release.archiveSize;
    return Serve("v" + std::to_string(version) + "-" + name + ".cfg", release.descriptor);
  }

  ::testing::AssertionResult GameHolds(const Tree& expected) const { return testing_update::GameHolds(Game(), expected); }

  void InstallVersion1() {
    const Observed first = Run(Publish(1, v1_, "a1.zip"));
    ASSERT_TRUE(first.boxes.empty()) << Log();
    ASSERT_EQ(1, InstalledVersion()) << Log();
    // A first installation needs every entry: the archive is fetched whole.
    EXPECT_NE(std::string::npos, Log().find("Fetching the whole archive: ")) << Log();
    ASSERT_TRUE(GameHolds(v1_));
    EXPECT_TRUE(Exists(At("install.manifest")));
    EXPECT_FALSE(Exists(At("Temp\\ClientContent"))) << "the manifest stands for the archive";
    ASSERT_TRUE(::CreateDirectoryA((Game() + "\\mods").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(Game() + "\\mods\\mine.txt", "the player's"));
    update::ResetDownloadLogForTesting();
  }

  Tree Version2WithPlayersFile() const {
    Tree expected = v2_;
    expected["mods"] = "/";
    expected["mods\\mine.txt"] = "the player's";
    return expected;
  }

  std::string stub_;
  Tree v1_, v2_;
  std::size_t archiveSize_ = 0;
  std::string archivePath_;
};

TEST_F(ManifestRun, OnlyTheChangedEntriesAreFetchedAndTheDroppedOnesRemoved) {
  InstallVersion1();
  const Observed second = Run(Publish(2, v2_, "a2.zip"));
  EXPECT_TRUE(second.boxes.empty());
  EXPECT_TRUE(ShownInOrder(kUpdateStages, second.stages));
  EXPECT_EQ(2, InstalledVersion()) << Log();
  EXPECT_TRUE(GameHolds(Version2WithPlayersFile()));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Fetching 3 of 34 entries (")) << log;
  EXPECT_NE(std::string::npos, log.find("Removed old-notes.txt\nRemoved retired/x.dat\n")) << log;
  EXPECT_EQ(std::string::npos, log.find("Fetching the whole archive")) << log;
  const ServedArchive served = ArchiveServed(archivePath_);
  EXPECT_TRUE(served.onlyRanges) << "only range answers";
  // Three entries of 20 KB and the gaps between them that a request joins.
  EXPECT_LT(served.bytes, static_cast<long long>(archiveSize_) / 10) << served.bytes << " of " << archiveSize_;
  EXPECT_FALSE(Exists(At("Temp\\ClientContent")));
  EXPECT_FALSE(Exists(At("Temp\\Fetched")));
  EXPECT_EQ(ReadWholeFile(served_ / "a2.zip.manifest"), ReadWholeFile(At("install.manifest")));
}

TEST_F(ManifestRun, AServerThatIgnoresRangesGetsTheWholeArchiveRequestedAndTheRemovalsStillHappen) {
  InstallVersion1();
  const Observed second = Run(Publish(2, v2_, "a2.zip", "/noranges"));
  EXPECT_TRUE(second.boxes.empty()) << Log();
  EXPECT_EQ(2, InstalledVersion()) << Log();
  EXPECT_TRUE(GameHolds(Version2WithPlayersFile()));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Fetching the whole archive: the server ignored the range of (" +
                                        HttpUrl(archivePath_)))
      << log;
  EXPECT_NE(std::string::npos, log.find("Removed old-notes.txt\n")) << log;
  EXPECT_FALSE(Exists(At("Temp\\ClientContent")));
}

TEST_F(ManifestRun, ASpanWithOneFlippedByteIsRefusedBeforeItIsInflatedAndNeverReachesGameNorCostsTheArchive) {
  InstallVersion1();
  const Observed second = Run(Publish(2, v2_, "a2.zip", "", [](std::string& bytes, const update::Manifest& m) {
    for (const update::ManifestEntry& e : m.entries)
      if (e.name == "data/f3.bin") bytes[e.spanOffset + e.spanLength / 2] ^= 0x01;
  }));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Rejected body of (")) << log;
  // The host serves that span wrong every time: it is asked again on its own,
  // and the whole archive (the same bytes) is not fetched for it.
  EXPECT_NE(std::string::npos, log.find("Cannot fetch the archive's ranges: the span of data/f3.bin failed its check; "
                                        "what was fetched is kept"))
      << log;
  EXPECT_EQ(std::string::npos, log.find("Fetching the whole archive")) << log;
  EXPECT_TRUE(Exists(At("Temp\\Fetched")));  // the entries served right wait for the next run
  EXPECT_EQ(std::vector<std::string>{kArchiveFailed}, second.boxes);
  EXPECT_EQ(1, InstalledVersion());
  Tree expected = v1_;
  expected["mods"] = "/";
  expected["mods\\mine.txt"] = "the player's";
  EXPECT_TRUE(GameHolds(expected));
}

// The room the ranges need is known from the manifest before the first of
// them: on a volume that lacks it nothing of the archive is asked for, and
// once the player has made room the next run goes on as usual.
TEST_F(ManifestRun, NoRoomForTheRangesShowsTheSpaceBoxBeforeAnyIsFetched) {
  LAUNCHER_SMALL_VOLUME_OR_SKIP(small);
  ScratchDir onSmall(small);
  UseDirectory(onSmall.Path());
  InstallVersion1();
  ULARGE_INTEGER free;
  ASSERT_TRUE(::GetDiskFreeSpaceExA(onSmall.Path().c_str(), &free, nullptr, nullptr));
  // A player's files that leave less than the staging margin: three changed
  // entries of about 20 KB and the margin no longer fit.
  const std::string filler = onSmall / "filler.bin";
  ASSERT_TRUE(WriteWholeFile(filler, std::string(static_cast<std::size_t>(free.QuadPart - (8u << 20)), 'x')));

  const std::string versionUrl = Publish(2, v2_, "a2.zip");
  const Observed refused = Run(versionUrl);
  EXPECT_EQ(std::vector<std::string>{kNoSpace}, refused.boxes);
  const std::string log = Log();
  EXPECT_EQ(0u, log.find("Not enough disk space on " + std::string(small) + "\\: 16830464 bytes needed, ")) << log;
  EXPECT_EQ(log.size() - std::strlen(" free\n"), log.find(" free\n")) << log;
  EXPECT_EQ(0u, ArchiveServed(archivePath_).requests);
  EXPECT_EQ(1, InstalledVersion());
  Tree expected = v1_;
  expected["mods"] = "/";
  expected["mods\\mine.txt"] = "the player's";
  EXPECT_TRUE(GameHolds(expected));

  ASSERT_TRUE(::DeleteFileA(filler.c_str()));
  update::ResetDownloadLogForTesting();
  const Observed second = Run(versionUrl);
  EXPECT_TRUE(second.boxes.empty()) << Log();
  EXPECT_EQ(2, InstalledVersion()) << Log();
  EXPECT_TRUE(GameHolds(Version2WithPlayersFile()));
  EXPECT_TRUE(ArchiveServed(archivePath_).onlyRanges);
}

// A host in front of nginx spoils half its answers (resets, cut bodies,
// flipped bytes; the seed repeats the order): each failed range is asked for
// again on its own, so the update costs a few times its spans, not the
// archive, and Game is only ever version 1 or version 2 between runs.
TEST_F(ManifestRun, ThroughAHostThatSpoilsHalfItsAnswersTheUpdateConvergesForAFractionOfTheArchive) {
  InstallVersion1();
  const std::string key = "spoil" + std::to_string(::GetTickCount());
  const std::string versionUrl = PublishAt(2, v2_, "a2.zip", FixtureUrl("/spoil/" + key + "/7/50" + served_.UrlPath("a2.zip")));
  int runs = 0;
  while (runs < 3 && InstalledVersion() != 2) {
    ++runs;
    update::ResetDownloadLogForTesting();
    Run(versionUrl);
    EXPECT_EQ(std::string::npos, Log().find("Fetching the whole archive")) << Log();
    EXPECT_TRUE(GameHolds(InstalledVersion() == 2 ? Version2WithPlayersFile() : [&] {
      Tree v1 = v1_;
      v1["mods"] = "/";
      v1["mods\\mine.txt"] = "the player's";
      return v1;
    }())) << "run " << runs;
  }
  EXPECT_EQ(2, InstalledVersion()) << Log();
  const std::string count = At("spoil-count");
  ASSERT_TRUE(update::DownloadFile(count.c_str(), FixtureUrl("/spoil/" + key + "/count").c_str()));
  long long answers = 0, spoiled = 0, sent = 0;
  ASSERT_EQ(3, std::sscanf(ReadWholeFile(count).c_str(), "%lld %lld %lld", &answers, &spoiled, &sent));
  EXPECT_GT(spoiled, 0) << "the host spoiled nothing: the test shows nothing";
  std::printf("spoiling host: %lld of %lld answers spoiled, %lld bytes sent of a %zu-byte archive, %d runs\n",
              spoiled, answers, sent, archiveSize_, runs);
  EXPECT_LT(sent, static_cast<long long>(archiveSize_) / 20) << sent << " of " << archiveSize_ << " in " << answers;
}

// The volume fills while a range is staged (another program takes the room
// the check found): the space box, not the download one, and what arrived
// waits for the next run, which completes once there is room.
TEST_F(ManifestRun, AVolumeThatFillsWhileRangesAreStagedShowsTheSpaceBoxAndTheNextRunCompletes) {
  LAUNCHER_SMALL_VOLUME_OR_SKIP(small);
  ScratchDir onSmall(small);
  UseDirectory(onSmall.Path());
  InstallVersion1();
  Tree v3 = v2_;
  v3["data\\f5.bin"] = Noise(6u << 20, 505);  // changed, and large: its request lasts
  const std::string versionUrl = Publish(3, v3, "a3.zip");
  const std::string filler = onSmall / "filler.bin";
  update::Manifest manifest;
  const std::string text = ReadWholeFile(served_.Path() + "\\a3.zip.manifest");
  ASSERT_EQ(update::ParseManifest(text.data(), text.size(), &manifest), update::ManifestParse::Parsed);
  std::size_t first = 0;  // data/f3.bin: its span comes before the large one's
  while (first < manifest.entries.size() && manifest.entries[first].name != "data/f3.bin") ++first;
  ASSERT_LT(first, manifest.entries.size());
  Observed refused;
  {
    limits_.maxReceiveBytesPerSecond = 4 << 20;  // the large span takes over a second
    testing_files::VolumeFiller filling(update::StagedEntryPath(At("Temp\\Fetched"), first, false), 1000, filler);
    refused = Run(versionUrl);
  }
  EXPECT_EQ(std::vector<std::string>{kNoSpace}, refused.boxes) << Log();
  EXPECT_NE(std::string::npos, Log().find("Disk full while writing ")) << Log();
  EXPECT_EQ(1, InstalledVersion());
  ASSERT_TRUE(::DeleteFileA(filler.c_str()));
  limits_.maxReceiveBytesPerSecond = 0;
  update::ResetDownloadLogForTesting();
  const Observed second = Run(versionUrl);
  EXPECT_TRUE(second.boxes.empty()) << Log();
  EXPECT_EQ(3, InstalledVersion()) << Log();
}

// A client whose large file is deflated in chunks, as the pack tool packs it.
class ChunkedRun : public ManifestRun {
 protected:
  // Without `manifest` the descriptor names no manifest: the archive installs whole.
  std::string PublishPacked(int version, const Tree& tree, const std::string& name, bool manifest = true) {
    const std::string client = served_.Path() + "\\" + name + ".client";
    WriteClientTree(client, tree);
    archivePath_ = served_.UrlPath(name);
    const Release release = PublishPackedRelease(served_.Path(), name, version, client, HttpUrl(archivePath_),
                                                 HttpUrl(served_.UrlPath(name + ".manifest")));
    archiveSize_ = release.archiveSize;
    std::string descriptor = release.descriptor;
    for (std::size_t at; !manifest && (at = descriptor.find("\r\nManifest")) != std::string::npos;)
      descriptor.erase(at, descriptor.find("\r\n", at + 2) - at);
    return Serve("v" + std::to_string(version) + "-" + name + ".cfg", descriptor);
  }
};

TEST_F(ChunkedRun, AChangedLargeFileIsRebuiltFromItsChunksAndRepairedChunkByChunk) {
  Tree v1 = {{"TLVR.exe", stub_}, {"data", "/"}, {"data\\big.pak", Noise(12u << 20, 5)}, {"data\\small.txt", "s"}};
  Tree v2 = v1;
  std::string& big = v2["data\\big.pak"];
  big.replace(6u << 20, 64 * 1024, Noise(64 * 1024, 6));
  big.insert(big.size() - (1u << 20), Noise(10 * 1024, 7));
  // Installed as a whole by a descriptor without a manifest: the chunks are
  // one ordinary deflate stream to the installer, and Game is then checked
  // file by file and chunk by chunk in place.
  ASSERT_TRUE(Run(PublishPacked(1, v1, "c1.zip", false)).boxes.empty()) << Log();
  ASSERT_EQ(1, InstalledVersion()) << Log();
  ASSERT_TRUE(GameHolds(v1));
  ASSERT_FALSE(Exists(At("install.manifest")));
  update::ResetDownloadLogForTesting();

  const Observed second = Run(PublishPacked(2, v2, "c2.zip"));
  EXPECT_TRUE(second.boxes.empty()) << Log();
  EXPECT_EQ(2, InstalledVersion()) << Log();
  EXPECT_TRUE(GameHolds(v2));
  EXPECT_NE(std::string::npos, Log().find("Rebuilding data/big.pak: ")) << Log();
  const ServedArchive updated = ArchiveServed(archivePath_);
  EXPECT_TRUE(updated.onlyRanges);
  EXPECT_LE(updated.bytes, 4ll << 20) << updated.bytes << " of " << archiveSize_;
  EXPECT_FALSE(Exists(At("Temp\\Fetched")));

  // One flipped byte: the repair fetches the chunk that holds it.
  std::string damaged = v2["data\\big.pak"];
  damaged[3u << 20] ^= 0x01;
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\big.pak", damaged));
  update::ResetDownloadLogForTesting();
  repairOnEntry_ = true;
  EXPECT_TRUE(Run(versionUrl_).boxes.empty()) << Log();
  EXPECT_NE(std::string::npos, Log().find("Rebuilding data/big.pak: ")) << Log();
  EXPECT_NE(std::string::npos, Log().find("Mended 1 of 1 files\n")) << Log();
  EXPECT_TRUE(GameHolds(v2));
  const ServedArchive repaired = ArchiveServed(archivePath_, updated.requests);
  EXPECT_LE(repaired.bytes, static_cast<long long>(update::kMaxChunkBytes + (64 << 10))) << repaired.bytes;
}

TEST_F(ManifestRun, RepairFetchesOnlyTheDamagedEntriesWithNoArchiveKept) {
  InstallVersion1();
  ASSERT_FALSE(Exists(At("Temp\\ClientContent")));
  // Three neighbours in the archive: deleted, truncated, changed in place.
  ASSERT_TRUE(::DeleteFileA((Game() + "\\data\\f1.bin").c_str()));
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\f10.bin", v1_["data\\f10.bin"].substr(0, 100)));
  std::string changed = v1_["data\\f11.bin"];
  changed[5000] ^= 0x20;  // the same size: only its CRC-32 tells
  ASSERT_TRUE(WriteWholeFile(Game() + "\\data\\f11.bin", changed));
  const std::size_t before = ArchiveServed(archivePath_).requests;

  repairOnEntry_ = true;
  const Observed repair = Run(versionUrl_);
  EXPECT_TRUE(repair.boxes.empty()) << Log();
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Verified 34 files (")) << log;
  EXPECT_NE(std::string::npos, log.find("): 3 missing or different\n")) << log;
  EXPECT_NE(std::string::npos, log.find("Mended 3 of 3 files\n")) << log;
  Tree expected = v1_;
  expected["mods"] = "/";
  expected["mods\\mine.txt"] = "the player's";
  EXPECT_TRUE(GameHolds(expected));
  const ServedArchive served = ArchiveServed(archivePath_, before);
  EXPECT_TRUE(served.onlyRanges) << "only range answers";
  EXPECT_LE(served.bytes, static_cast<long long>(archiveSize_) / 100) << served.bytes << " of " << archiveSize_;
  EXPECT_EQ(1, InstalledVersion());
}

}  // namespace
