#include "tests/update/client_release.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <vector>

#include "tests/support/file_tree.h"
#include "tests/update/test_support.h"
#include "tools/pack/client_tree.h"
#include "tools/pack/manifest_builder.h"
#include "tools/pack/zip_writer.h"

namespace testing_update {

std::string Noise(std::size_t size, unsigned seed) {
  // A full-period generator: the bits of a small linear congruential one
  // repeat with short periods, which content-defined chunk boundaries notice.
  std::string bytes(size, '\0');
  std::mt19937_64 random(seed);
  for (std::size_t i = 0; i < size; i += 8) {
    const std::uint64_t value = random();
    for (std::size_t j = 0; j < 8 && i + j < size; ++j) bytes[i + j] = static_cast<char>(value >> (8 * j));
  }
  return bytes;
}

namespace {

std::string Descriptor(int version, const std::string& archiveUrl, const std::string& digest, std::uint64_t size,
                       const std::string& manifestUrl, const std::string& manifestText) {
  return "[Launcher]\r\nVersion=" + std::to_string(version) + "\r\nUrl=" + archiveUrl + "\r\nSha256=" + digest +
         "\r\nSize=" + std::to_string(size) + "\r\nManifest=" + manifestUrl +
         "\r\nManifestSha256=" + Sha256Hex(manifestText) + "\r\nManifestSize=" + std::to_string(manifestText.size()) +
         "\r\n";
}

}  // namespace

Release PublishRelease(const std::string& directory, const std::string& name, int version, const ClientTree& tree,
                       const std::string& archiveUrl, const std::string& manifestUrl,
                       void (*damage)(std::string& bytes, const update::Manifest& manifest)) {
  Release release;
  std::vector<ZipEntry> entries;
  for (const auto& item : tree) {
    std::string stored = item.first;
    for (char& c : stored) c = c == '\\' ? '/' : c;
    entries.push_back(item.second == "/" ? ZipEntry{stored + "/", "", 0x10} : ZipEntry{stored, item.second, 0x20});
  }
  const std::string archive = directory + "\\" + name;
  EXPECT_TRUE(WriteZip(archive, entries));
  std::string error;
  EXPECT_TRUE(pack::BuildManifest(archive, &release.manifest, &error)) << error;
  const std::string text = update::FormatManifest(release.manifest);
  EXPECT_TRUE(WriteWholeFile(archive + ".manifest", text));
  std::string bytes = ReadWholeFile(archive);
  const std::string digest = Sha256Hex(bytes);
  if (damage != nullptr) {
    damage(bytes, release.manifest);
    EXPECT_TRUE(WriteWholeFile(archive, bytes));
  }
  release.archiveSize = bytes.size();
  release.descriptor = Descriptor(version, archiveUrl, digest, bytes.size(), manifestUrl, text);
  return release;
}

void WriteClientTree(const std::string& folder, const ClientTree& tree) {
  ::CreateDirectoryA(folder.c_str(), nullptr);
  for (const auto& item : tree) {  // a folder sorts before what it holds
    const std::string path = folder + "\\" + item.first;
    if (item.second == "/") EXPECT_TRUE(::CreateDirectoryA(path.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) << path;
    else EXPECT_TRUE(WriteWholeFile(path, item.second)) << path;
  }
}

Release PublishPackedRelease(const std::string& directory, const std::string& name, int version,
                             const std::string& client, const std::string& archiveUrl, const std::string& manifestUrl) {
  Release release;
  std::vector<std::string> refused;
  const std::vector<pack::PackEntry> entries = pack::CollectClientEntries(std::filesystem::u8path(client), &refused);
  EXPECT_TRUE(refused.empty());
  const std::string archive = directory + "\\" + name;
  pack::ChunkLayout layout;
  std::string error;
  EXPECT_TRUE(pack::WriteClientArchive(std::filesystem::u8path(archive), entries, &error, &layout)) << error;
  EXPECT_TRUE(pack::BuildManifest(std::filesystem::u8path(archive), &release.manifest, &error, &layout)) << error;
  const std::string text = update::FormatManifest(release.manifest);
  EXPECT_TRUE(WriteWholeFile(archive + ".manifest", text));
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(release.manifest.archiveSha256, hex);
  release.archiveSize = static_cast<std::size_t>(release.manifest.archiveSize);
  release.descriptor = Descriptor(version, archiveUrl, hex, release.manifest.archiveSize, manifestUrl, text);
  return release;
}

ServedArchive ArchiveServed(const std::string& archivePath, std::size_t skip) {
  ServedArchive served;
  const auto requests = ServedRequests(archivePath + "?");
  for (std::size_t i = skip; i < requests.size(); ++i) {
    served.bytes += requests[i].second;
    served.onlyRanges = served.onlyRanges && requests[i].first == 206;
    ++served.requests;
  }
  return served;
}

ClientTree GameTreeOf(const std::string& game) {
  ClientTree tree;
  testing_files::VisitTree(game, [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
    const bool directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (relative == "launch.txt" || relative == "launch.tmp") return;  // the started stub game's record
    tree[relative] = directory ? "/" : ReadWholeFile(game + "\\" + relative);
  });
  return tree;
}

::testing::AssertionResult GameHolds(const std::string& game, const ClientTree& expected) {
  const ClientTree actual = GameTreeOf(game);
  for (const auto& item : expected) {
    auto it = actual.find(item.first);
    if (it == actual.end()) return ::testing::AssertionFailure() << item.first << " is missing";
    if (it->second != item.second) return ::testing::AssertionFailure() << item.first << " differs";
  }
  for (const auto& item : actual)
    if (expected.count(item.first) == 0) return ::testing::AssertionFailure() << item.first << " should not be there";
  return ::testing::AssertionSuccess();
}

}  // namespace testing_update
