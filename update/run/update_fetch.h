// The fetch phase of a run: what an update needs, brought into Temp and
// checked, while Game, install.cfg and install.manifest stay as they are.
// With a manifest the descriptor names, the changed entries and chunks go
// to Temp\Fetched as ranges of the archive (update/incremental/); without
// one, or when the manifest cannot be used, the whole archive is fetched
// from version.cfg's Url, else Url2 and Url3 in turn, into
// Temp\ClientContent (by way of a resumable part when its Sha256 is named).
// The commit (update/run/update_commit.h) takes it from there.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "update/incremental/manifest_update.h"
#include "update/install/commit_journal.h"
#include "update/run/version_check.h"
#include "update/run/run_shared.h"

namespace update {

enum class FetchOutcome {
  ByManifest,      // the changed entries wait in Temp\Fetched for the commit
  WholeArchive,    // Temp\ClientContent holds the archive, checked
  NoSpace,         // "Not enough disk space on ROOT: ..." is logged; nothing was fetched
  ManifestFailed,  // the manifest's fetched entries could not be kept (logged); nothing more tried
  ArchiveFailed,   // no host served the archive or the rest of its ranges (logged); DiskFull() says
                   // whether the archive's volume filled
  Stopped,         // a stop request ended it; what arrived stays for a later run
};

class UpdateFetch {
 public:
  UpdateFetch(RunShared& run, const TrustedDescriptor& descriptor) : run_(run), descriptor_(descriptor) {}
  UpdateFetch(const UpdateFetch&) = delete;
  UpdateFetch& operator=(const UpdateFetch&) = delete;

  // Stage 1: what the live version needs, by the manifest when one is named and
  // usable, else the whole archive.
  FetchOutcome FetchUpdate();

  // With a manifest named by the descriptor: the manifest fetched and
  // checked, ready to plan; null when the whole archive is fetched.
  std::unique_ptr<ManifestUpdate> StartManifestUpdate();

  // Before the archive's first byte: room for what the descriptor says it
  // holds and for `stagedBytes` of files unpacked from it. False, logged,
  // when a volume is short.
  bool RoomForArchive(std::uint64_t stagedBytes);
  // From Url, else Url2 and Url3 in turn. False, logged.
  bool FetchArchive();

  // After ByManifest: the update that holds the fetched entries.
  ManifestUpdate* ByManifest() const { return byManifest_.get(); }
  // After WholeArchive: a manifest that fell back to the whole archive (or
  // null), and the files and directories the new version dropped.
  const std::vector<JournalEntry>& Removals() const { return removals_; }

  const char* ArchiveFile() const { return archiveFile_; }
  // Temp\ClientContent. False when it does not fit.
  bool ComposeArchiveFile();
  bool ArchiveDigestKnown() const { return fetchedDigestKnown_; }
  const Sha256Digest& ArchiveDigest() const { return fetchedDigest_; }
  void SetArchiveDigest(const Sha256Digest& digest) {
    fetchedDigest_ = digest;
    fetchedDigestKnown_ = true;
  }

 private:
  bool ComposeArchiveUrl(char* url, std::size_t size, const char* key = "Url") const;
  bool FetchArchiveFrom(const char* url);
  bool FetchArchivePart(const char* url, ArchiveBodyCheck* check);

  RunShared& run_;
  const TrustedDescriptor& descriptor_;
  std::unique_ptr<ManifestUpdate> byManifest_;
  std::vector<JournalEntry> removals_;
  char manifestMirrors_[2][kPathSize] = {};  // Manifest2, Manifest3 with their queries
  char archiveMirrors_[2][kPathSize] = {};   // Url2, Url3 with theirs
  char manifestUrl_[kPathSize] = {};
  char archiveUrl_[kPathSize] = {};
  char archiveFile_[kPathSize] = {};
  ManifestUpdateSetup manifestSetup_;
  Sha256Digest fetchedDigest_;  // of the archive fetched in this run, when fetchedDigestKnown_
  bool fetchedDigestKnown_ = false;
};

}  // namespace update
