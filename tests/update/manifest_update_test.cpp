// Updates by manifest in whole worker runs against nginx: the changed entries
// fetched as ranges of the one archive (the access log shows how few bytes),
// the dropped files removed and a player's own kept, the fallback to the
// whole archive when the server ignores ranges, and a span that fails its
// check never reaching Game.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/support/file_tree.h"
#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"
#include "tools/pack/manifest_builder.h"
#include "update/manifest/manifest.h"

namespace {

using namespace testing_update;
using Tree = std::map<std::string, std::string>;  // path below Game ("/" for a directory)

// Content that does not compress, so that an entry's span is about its size.
std::string Noise(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

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

  // Writes the archive of `tree` as `name` with its manifest and descriptor,
  // serves them (the archive below `archivePrefix`) and returns the
  // descriptor's URL. `damage` changes the archive's bytes after its manifest
  // was made.
  std::string Publish(int version, const Tree& tree, const std::string& name, const std::string& archivePrefix = "",
                      void (*damage)(std::string&, const update::Manifest&) = nullptr) {
    std::vector<ZipEntry> entries;
    for (const auto& item : tree) {
      std::string stored = item.first;
      for (char& c : stored) c = c == '\\' ? '/' : c;
      entries.push_back(item.second == "/" ? ZipEntry{stored + "/", "", 0x10} : ZipEntry{stored, item.second, 0x20});
    }
    EXPECT_TRUE(WriteZip(served_ / name, entries));
    std::string error;
    update::Manifest manifest;
    EXPECT_TRUE(pack::BuildManifest(served_ / name, &manifest, &error)) << error;
    const std::string text = update::FormatManifest(manifest);
    Serve(name + ".manifest", text);
    std::string bytes = ReadWholeFile(served_ / name);
    const std::string digest = Sha256Hex(bytes);
    if (damage != nullptr) {
      damage(bytes, manifest);
      EXPECT_TRUE(WriteWholeFile(served_ / name, bytes));
    }
    archiveSize_ = bytes.size();
    archivePath_ = archivePrefix + served_.UrlPath(name);
    const std::string descriptor = Descriptor(version, HttpUrl(archivePath_)) + "Sha256=" + digest +
                                   "\r\nSize=" + std::to_string(bytes.size()) + "\r\nManifest=" +
                                   HttpUrl(served_.UrlPath(name + ".manifest")) + "\r\nManifestSha256=" +
                                   Sha256Hex(text) + "\r\nManifestSize=" + std::to_string(text.size()) + "\r\n";
    return Serve("v" + std::to_string(version) + "-" + name + ".cfg", descriptor);
  }

  // Game as it is, without what the stub game writes when it is started.
  Tree GameTree() const {
    Tree tree;
    testing_files::VisitTree(Game(), [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
      const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (relative == "launch.txt") return;
      tree[relative] = directory ? "/" : ReadWholeFile(Game() + "\\" + relative);
    });
    return tree;
  }
  // Whether Game holds `expected` (by names, then contents, so that a failure
  // names the file rather than printing megabytes).
  ::testing::AssertionResult GameHolds(const Tree& expected) const {
    const Tree actual = GameTree();
    for (const auto& item : expected) {
      auto it = actual.find(item.first);
      if (it == actual.end()) return ::testing::AssertionFailure() << item.first << " is missing";
      if (it->second != item.second) return ::testing::AssertionFailure() << item.first << " differs";
    }
    for (const auto& item : actual)
      if (expected.count(item.first) == 0) return ::testing::AssertionFailure() << item.first << " should not be there";
    return ::testing::AssertionSuccess();
  }

  // Bytes nginx sent for the archive after its first `skip` requests, and
  // whether every one of those answers was a 206.
  std::pair<long long, bool> ArchiveBytesServed(std::size_t skip = 0) const {
    long long bytes = 0;
    bool partial = true;
    const auto requests = ServedRequests(archivePath_ + "?");  // the archive's requests, not its manifest's
    for (std::size_t i = skip; i < requests.size(); ++i) {
      bytes += requests[i].second;
      partial = partial && requests[i].first == 206;
    }
    return {bytes, partial};
  }

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
  const auto served = ArchiveBytesServed();
  EXPECT_TRUE(served.second) << "only range answers";
  // Three entries of 20 KB and the gaps between them that a request joins.
  EXPECT_LT(served.first, static_cast<long long>(archiveSize_) / 10) << served.first << " of " << archiveSize_;
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

TEST_F(ManifestRun, ASpanWithOneFlippedByteIsRefusedBeforeItIsInflatedAndNeverReachesGame) {
  InstallVersion1();
  const Observed second = Run(Publish(2, v2_, "a2.zip", "", [](std::string& bytes, const update::Manifest& m) {
    for (const update::ManifestEntry& e : m.entries)
      if (e.name == "data/f3.bin") bytes[e.spanOffset + e.spanLength / 2] ^= 0x01;
  }));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Rejected body of (")) << log;
  EXPECT_NE(std::string::npos, log.find("Fetching the whole archive: the span of data/f3.bin failed its check")) << log;
  EXPECT_NE(std::string::npos, log.find("Refused archive: expected Sha256 ")) << "the whole archive is the same bytes";
  EXPECT_EQ(std::vector<std::string>{kArchiveFailed}, second.boxes);
  EXPECT_EQ(1, InstalledVersion());
  Tree expected = v1_;
  expected["mods"] = "/";
  expected["mods\\mine.txt"] = "the player's";
  EXPECT_TRUE(GameHolds(expected));
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
  const std::size_t before = ServedRequests(archivePath_ + "?").size();

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
  const auto served = ArchiveBytesServed(before);
  EXPECT_TRUE(served.second) << "only range answers";
  EXPECT_LE(served.first, static_cast<long long>(archiveSize_) / 100) << served.first << " of " << archiveSize_;
  EXPECT_EQ(1, InstalledVersion());
}

}  // namespace
