// An update by manifest of the launcher as a process (the tree's own
// LauncherScripted.exe: the 32-bit product in the i686 tree): a client of
// 1,000 files and about 50 MB, installed at version 1, updated to a version
// 2 that changes 10 files, adds 3 and drops 3. What nginx served of the
// archive is read from its access log.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "base/unique_file.h"
#include "launcher_installation.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "update/verify/file_digest.h"

namespace {

using testing_update::ClientTree;
using testing_update::ReadWholeFile;
using testing_update::WriteWholeFile;

constexpr DWORD kRunTimeoutMs = 240000;
constexpr int kFiles = 1000;

class LauncherManifestUpdate : public e2e::LauncherInstallation {
 protected:
  void SetUp() override {
    Install(LAUNCHER_SCRIPTED_EXE, "LauncherScripted.exe");
    ASSERT_FALSE(HasFatalFailure());
    WriteScript("window.external.IntoGame('manifest');");
    v1_["TLVR.exe"] = ReadWholeFile(TEST_GAME_STUB);
    for (int i = 0; i < kFiles - 1; ++i) {
      const std::string folder = "pak" + std::to_string(i / 100);
      v1_[folder] = "/";
      v1_[folder + "\\f" + std::to_string(i) + ".bin"] = testing_update::Noise(50000, static_cast<unsigned>(i));
    }
    v2_ = v1_;
    for (int i = 50; i < kFiles - 1; i += 100)  // 10 changed, one in each folder
      v2_["pak" + std::to_string(i / 100) + "\\f" + std::to_string(i) + ".bin"] =
          testing_update::Noise(50000, static_cast<unsigned>(i + 7777));
    for (int i = 0; i < 3; ++i) v2_["added\\n" + std::to_string(i) + ".bin"] = testing_update::Noise(30000, 900u + i);
    v2_["added"] = "/";
    for (const char* dropped : {"pak0\\f1.bin", "pak4\\f402.bin", "pak9\\f903.bin"}) v2_.erase(dropped);
  }

  // Publishes version `version` of `tree`; the archive below `archivePrefix`.
  void Publish(int version, const ClientTree& tree, const std::string& name, const std::string& archivePrefix = "") {
    archivePath_ = archivePrefix + served_.UrlPath(name);
    const testing_update::Release release =
        testing_update::PublishRelease(served_.Path(), name, version, tree, testing_update::HttpUrl(archivePath_),
                                       testing_update::HttpUrl(served_.UrlPath(name + ".manifest")));
    archiveSize_ = release.archiveSize;
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", release.descriptor));
  }

  void InstallVersion1() {
    Publish(1, v1_, "a1.zip");
    ASSERT_TRUE(Run(kRunTimeoutMs));
    ASSERT_TRUE(launcher_.Boxes().empty()) << ReadWholeFile(run_ / "download.log");
    ASSERT_EQ(1u, InstalledVersion());
    ASSERT_TRUE(testing_update::GameHolds(run_ / "Game", v1_));
    ASSERT_TRUE(WriteWholeFile(run_ / "Game\\settings.ini", "the player's"));
  }

  ClientTree Version2() const {
    ClientTree expected = v2_;
    expected["settings.ini"] = "the player's";
    return expected;
  }

  ClientTree v1_, v2_;
  std::string archivePath_;
  std::size_t archiveSize_ = 0;
};

TEST_F(LauncherManifestUpdate, FetchesAtMostTwoPercentOfTheArchiveAndRemovesTheDroppedFiles) {
  InstallVersion1();
  Publish(2, v2_, "a2.zip");
  ASSERT_TRUE(Run(kRunTimeoutMs));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ(2u, InstalledVersion()) << log;
  EXPECT_TRUE(testing_update::GameHolds(run_ / "Game", Version2()));
  EXPECT_NE(std::string::npos, log.find("Fetching 13 of 1011 entries (")) << log;
  for (const char* removed : {"Removed pak0/f1.bin\n", "Removed pak4/f402.bin\n", "Removed pak9/f903.bin\n"})
    EXPECT_NE(std::string::npos, log.find(removed)) << log;
  const testing_update::ServedArchive served = testing_update::ArchiveServed(archivePath_);
  EXPECT_TRUE(served.onlyRanges);
  EXPECT_LE(served.bytes * 50, static_cast<long long>(archiveSize_)) << served.bytes << " of " << archiveSize_;
  EXPECT_FALSE(testing_update::Exists(run_ / "Temp\\ClientContent"));
  EXPECT_FALSE(testing_update::Exists(run_ / "Temp\\ClientContent.part"));
  EXPECT_TRUE(GameStartedWith("manifest"));
}

TEST_F(LauncherManifestUpdate, AServerWithoutRangesInstallsThroughTheWholeArchive) {
  InstallVersion1();
  Publish(2, v2_, "a2.zip", "/noranges");
  ASSERT_TRUE(Run(kRunTimeoutMs));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ(2u, InstalledVersion()) << log;
  EXPECT_NE(std::string::npos, log.find("Fetching the whole archive: the server ignored the range of (")) << log;
  EXPECT_TRUE(testing_update::GameHolds(run_ / "Game", Version2()));
  EXPECT_FALSE(testing_update::Exists(run_ / "Temp\\ClientContent"));
}

// The done-when of chunked updates: a client whose 256 MiB pack file (random
// content) gets 64 KiB overwritten in its middle and 10 KiB inserted near its
// end updates with a few MiB of the archive, into exactly the new file.
class LauncherChunkUpdate : public LauncherManifestUpdate {
 protected:
  static constexpr std::size_t kMiB = 1u << 20;
  static constexpr std::size_t kPackMiB = 256;

  // The client of `version` below the served folder, its pack file written a
  // MiB at a time.
  std::string WriteClient(int version) {
    const std::string client = served_.Path() + "\\client" + std::to_string(version);
    testing_update::WriteClientTree(client, {{"TLVR.exe", ReadWholeFile(TEST_GAME_STUB)}, {"data", "/"}});
    base::UniqueFile out(std::fopen((client + "\\data\\big.pak").c_str(), "wb"));
    EXPECT_TRUE(out);
    for (std::size_t i = 0; i < kPackMiB && out; ++i) {
      std::string piece = testing_update::Noise(kMiB, static_cast<unsigned>(i));
      if (version == 2 && i == kPackMiB / 2) piece.replace(0, 64 * 1024, testing_update::Noise(64 * 1024, 9999));
      if (version == 2 && i == kPackMiB - 1) piece.insert(0, testing_update::Noise(10 * 1024, 8888));
      EXPECT_EQ(piece.size(), std::fwrite(piece.data(), 1, piece.size(), out.Get()));
    }
    EXPECT_TRUE(out.Close());
    return client;
  }

  void PublishPacked(int version, const std::string& name) {
    archivePath_ = served_.UrlPath(name);
    const testing_update::Release release = testing_update::PublishPackedRelease(
        served_.Path(), name, version, WriteClient(version), testing_update::HttpUrl(archivePath_),
        testing_update::HttpUrl(served_.UrlPath(name + ".manifest")));
    archiveSize_ = release.archiveSize;
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", release.descriptor));
  }

  static std::string Digest(const std::string& path) {
    update::Sha256Digest digest;
    if (!update::FileSha256(path.c_str(), &digest)) return "unreadable";
    char hex[update::kSha256HexSize];
    update::FormatSha256Hex(digest, hex);
    return hex;
  }
};

TEST_F(LauncherChunkUpdate, ASmallChangeInA256MiBPackFileFetchesAtMostFourMiB) {
  PublishPacked(1, "big1.zip");
  ASSERT_TRUE(Run(kRunTimeoutMs));
  ASSERT_EQ(1u, InstalledVersion()) << ReadWholeFile(run_ / "download.log");
  ASSERT_TRUE(::DeleteFileA((run_ / "download.log").c_str()));

  PublishPacked(2, "big2.zip");
  ASSERT_TRUE(Run(kRunTimeoutMs));
  const std::string log = ReadWholeFile(run_ / "download.log");
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ(2u, InstalledVersion()) << log;
  EXPECT_NE(std::string::npos, log.find("Rebuilding data/big.pak: ")) << log;
  const testing_update::ServedArchive served = testing_update::ArchiveServed(archivePath_);
  EXPECT_TRUE(served.onlyRanges);
  EXPECT_LE(served.bytes, 4ll << 20) << served.bytes << " of " << archiveSize_ << "\n" << log;
  std::printf("archive bytes served: %lld of %zu in %zu requests\n", served.bytes, archiveSize_, served.requests);
  EXPECT_EQ(Digest(served_.Path() + "\\client2\\data\\big.pak"), Digest(run_ / "Game\\data\\big.pak"));
  EXPECT_TRUE(GameStartedWith("manifest"));
}

}  // namespace
