// A client past 4 GiB from outside: a signed archive of more than 4.5 GB,
// served by nginx, whose first entry is 4.3 GiB of stored zeros (a hole in a
// sparse file on the server's side) so that every later entry starts past
// 4 GiB. It installs; a repair then verifies every byte of the client and
// mends one changed small file from the archive kept in Temp.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "launcher_installation.h"
#include "tests/support/sparse_zip.h"
#include "tests/update/test_support.h"
#include "tools/pack/signing.h"
#include "update/trust/archive_digest.h"
#include "update/verify/file_digest.h"

namespace {

using testing_update::ReadWholeFile;
using testing_update::WriteWholeFile;

constexpr std::uint64_t kBig = (std::uint64_t{4} << 30) + (std::uint64_t{300} << 20);  // 4.3 GiB
constexpr DWORD kRunTimeoutMs = 15 * 60 * 1000;
const std::string kPak = "pak contents past 4 GiB";
const std::string kNotes(20000, 'n');

std::uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class LargeClient : public e2e::LauncherInstallation {
 protected:
  void SetUp() override { Install(LAUNCHER_SCRIPTED_EXE, "LauncherScripted.exe"); }

  // The archive and its signed descriptor; returns the bytes of every file.
  void ServeSignedLargeArchive(std::uint64_t* clientBytes) {
    const std::string game = ReadWholeFile(TEST_GAME_STUB);
    ASSERT_FALSE(game.empty());
    const std::string archive = served_ / "ClientContent";
    testing_zip::SparseZipFacts facts;
    ASSERT_TRUE(testing_zip::WriteSparseZip(archive,
                                            {{"big.pak", "", kBig},
                                             {"data/", "", 0, false, 0x10},
                                             {"data/a.pak", kPak, 0, true},
                                             {"notes.txt", kNotes, 0, true},
                                             {"TLVR.exe", game, 0, true}},
                                            &facts));
    ASSERT_GT(facts.size, 4500000000ull);
    ASSERT_GT(facts.localHeaderOffsets[2], 0xFFFFFFFFull);
    *clientBytes = kBig + kPak.size() + kNotes.size() + game.size();

    update::Sha256Digest digest;
    ASSERT_TRUE(update::FileSha256(archive.c_str(), &digest));
    char hex[update::kSha256HexSize];
    update::FormatSha256Hex(digest, hex);
    const std::string descriptor = "[Launcher]\r\nVersion=2\r\nUrl=" +
                                   testing_update::HttpUrl(served_.UrlPath("ClientContent")) + "\r\nSha256=" + hex +
                                   "\r\nSize=" + std::to_string(facts.size) + "\r\n";
    pack::KeyPair key;
    ASSERT_TRUE(pack::GenerateKeyPair(&key));
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg", descriptor));
    ASSERT_TRUE(WriteWholeFile(served_ / "version.cfg.minisig", pack::SignPrehashed(descriptor, key, "version:2")));
    const std::string config = ReadWholeFile(run_ / "Data\\Config.cfg");
    ASSERT_TRUE(WriteWholeFile(run_ / "Data\\Config.cfg",
                               config + "\r\nPublicKey=" + pack::PublicKeyLine(key.publicKey) + "\r\n"));
    archiveSize_ = facts.size;
  }

  std::uint64_t archiveSize_ = 0;
};

TEST_F(LargeClient, InstallsThenRepairVerifiesEveryByteAndMendsOneFile) {
  std::uint64_t clientBytes = 0;
  ASSERT_NO_FATAL_FAILURE(ServeSignedLargeArchive(&clientBytes));
  WriteScript("window.external.IntoGame('big');");

  ASSERT_TRUE(Run(kRunTimeoutMs));
  const std::string log = ReadWholeFile(run_ / "download.log");
  ASSERT_EQ(0u, launcher_.ExitCode()) << log;
  EXPECT_TRUE(launcher_.Boxes().empty()) << log;
  EXPECT_EQ("Successfully started the game.", log);
  EXPECT_EQ(2u, InstalledVersion());
  EXPECT_EQ(kBig, FileSize(run_ / "Game\\big.pak"));
  EXPECT_EQ(kPak, ReadWholeFile(run_ / "Game\\data\\a.pak"));
  EXPECT_EQ(kNotes, ReadWholeFile(run_ / "Game\\notes.txt"));
  EXPECT_TRUE(GameStartedWith("big"));
  // The archive arrived once: in segments over several connections, their bytes the archive's size.
  const auto fetched = testing_update::ServedRequests(served_.UrlPath("ClientContent"));
  long long fetchedBytes = 0;
  for (const auto& request : fetched) {
    EXPECT_TRUE(request.first == 200 || request.first == 206) << request.first;
    fetchedBytes += request.second;
  }
  EXPECT_EQ(static_cast<long long>(archiveSize_), fetchedBytes);

  // The same size, other bytes: only its CRC can tell.
  ASSERT_TRUE(::DeleteFileA((run_ / "Game\\launch.txt").c_str()));
  std::string changed = kNotes;
  changed[12345] = 'X';
  ASSERT_TRUE(WriteWholeFile(run_ / "Game\\notes.txt", changed));
  WriteScript("window.external.Repair('again');");

  ASSERT_TRUE(Run(kRunTimeoutMs));
  const std::string repairLog = ReadWholeFile(run_ / "download.log");
  EXPECT_EQ(0u, launcher_.ExitCode()) << repairLog;
  EXPECT_TRUE(launcher_.Boxes().empty()) << repairLog;
  const std::string verified = "Verified 4 files (" + std::to_string(clientBytes) + " bytes): 1 missing or different\n";
  EXPECT_NE(std::string::npos, repairLog.find(verified)) << repairLog;
  EXPECT_NE(std::string::npos, repairLog.find("Mended 1 of 1 files\n")) << repairLog;
  EXPECT_EQ(kNotes, ReadWholeFile(run_ / "Game\\notes.txt"));
  EXPECT_EQ(kBig, FileSize(run_ / "Game\\big.pak"));
  EXPECT_TRUE(GameStartedWith("again"));

  // Nothing was downloaded for the repair.
  EXPECT_EQ(fetched.size(), testing_update::ServedRequests(served_.UrlPath("ClientContent")).size());
}

}  // namespace
