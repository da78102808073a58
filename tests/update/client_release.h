// A client release as the tests publish it: a tree of files, its archive with
// the manifest the pack tool would write beside it, and a version.cfg that
// names both by their digests; and the tree found in Game after a run, for
// comparing with the release.
#pragma once

#include <cstddef>
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "update/manifest/manifest.h"

namespace testing_update {

// Paths below Game ("data\\a.pak"), "/" for a directory.
using ClientTree = std::map<std::string, std::string>;

// `size` bytes that do not compress, different for every `seed`: an entry's
// span is then about its size.
std::string Noise(std::size_t size, unsigned seed);

struct Release {
  std::string archivePath;  // the archive's URL path on the server
  std::size_t archiveSize = 0;
  update::Manifest manifest;
  std::string descriptor;   // version.cfg's text
};

// Writes `tree` as `directory\name` and `directory\name.manifest`; the
// descriptor names the archive at `archiveUrl` and the manifest at
// `manifestUrl`. `damage` (when not null) changes the archive's bytes after
// the manifest and digests were taken from them.
Release PublishRelease(const std::string& directory, const std::string& name, int version, const ClientTree& tree,
                       const std::string& archiveUrl, const std::string& manifestUrl,
                       void (*damage)(std::string& bytes, const update::Manifest& manifest) = nullptr);

// Writes `tree` below `folder` (made when missing).
void WriteClientTree(const std::string& folder, const ClientTree& tree);

// Packs the folder `client` as the pack tool does (files of 8 MiB and more
// deflated in chunks) into `directory\name` and `directory\name.manifest`;
// the descriptor names them as PublishRelease's does.
Release PublishPackedRelease(const std::string& directory, const std::string& name, int version,
                             const std::string& client, const std::string& archiveUrl, const std::string& manifestUrl);

// What nginx sent for an archive at `archivePath`, after its first `skip`
// requests: the bytes, how many requests, and whether each was a 206. The
// archive's own requests only (its query follows), not its manifest's.
struct ServedArchive {
  long long bytes = 0;
  std::size_t requests = 0;
  bool onlyRanges = true;
};
ServedArchive ArchiveServed(const std::string& archivePath, std::size_t skip = 0);

// The tree below `game`, without what the stub game writes when it runs.
ClientTree GameTreeOf(const std::string& game);
// Whether `game` holds exactly `expected`; a failure names the first file
// that is missing, differs or should not be there.
::testing::AssertionResult GameHolds(const std::string& game, const ClientTree& expected);

}  // namespace testing_update
