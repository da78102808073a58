#include "tests/update/client_release.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/file_tree.h"
#include "tests/update/test_support.h"
#include "tools/pack/manifest_builder.h"

namespace testing_update {

std::string Noise(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

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
  release.descriptor = "[Launcher]\r\nVersion=" + std::to_string(version) + "\r\nUrl=" + archiveUrl +
                       "\r\nSha256=" + digest + "\r\nSize=" + std::to_string(bytes.size()) +
                       "\r\nManifest=" + manifestUrl + "\r\nManifestSha256=" + Sha256Hex(text) +
                       "\r\nManifestSize=" + std::to_string(text.size()) + "\r\n";
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
