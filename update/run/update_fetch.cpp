#include "update/run/update_fetch.h"

#include <windows.h>

#include <string>

#include "base/file_size.h"
#include "base/file_tree.h"
#include "update/download_log.h"
#include "update/install/room_check.h"
#include "update/run/player_messages.h"
#include "update/transfer/http_download.h"
#include "update/transfer_rules.h"

namespace update {

namespace {

constexpr int kCurlUrlMalformat = 3;  // CURLE_URL_MALFORMAT

}  // namespace

FetchOutcome UpdateFetch::FetchUpdate() {
  run_.ShowStage(1, 50);
  removals_.clear();
  byManifest_ = StartManifestUpdate();
  if (byManifest_) {
    // What was fetched ahead while this version was still the next one.
    const std::string ahead = std::string(run_.Paths().temp) + "\\Next";
    if (byManifest_->TakeFetchedAhead(ahead + "\\Fetched")) base::RemoveTree(ahead);
    switch (byManifest_->FetchChanges()) {
      case ManifestResult::Fetched:
        return FetchOutcome::ByManifest;
      case ManifestResult::WholeArchive:
        break;
      case ManifestResult::NoSpace:  // no room (before the ranges, or while staging them): what arrived waits
        return FetchOutcome::NoSpace;
      case ManifestResult::FetchFailed:  // no host served the rest of the ranges: what was staged waits
        return FetchOutcome::ArchiveFailed;
      case ManifestResult::Installed:
      case ManifestResult::Failed:
      case ManifestResult::Blocked:
        return FetchOutcome::ManifestFailed;
    }
    removals_ = byManifest_->Removals();
  }
  if (run_.Stopping()) return FetchOutcome::Stopped;  // the ranges ended by the stop: no whole archive either
  if (!RoomForArchive(byManifest_ ? byManifest_->ArchiveFileBytes() : 0)) return FetchOutcome::NoSpace;
  if (!FetchArchive()) return FetchOutcome::ArchiveFailed;
  if (run_.Stopping()) return FetchOutcome::Stopped;
  return FetchOutcome::WholeArchive;
}

std::unique_ptr<ManifestUpdate> UpdateFetch::StartManifestUpdate() {
  const RunPaths& paths = run_.Paths();
  const ManifestExpectation& manifest = descriptor_.manifest;
  if (!manifest.Named() || !paths.commitPathsFit || paths.installedManifest[0] == '\0') return nullptr;
  const bool composed =
      ComposeManifestUrl(manifestUrl_, sizeof manifestUrl_, manifest) &&
      ComposeArchiveUrl(archiveUrl_, sizeof archiveUrl_);
  if (!composed) {
    WriteLog("Fetching the whole archive: the manifest's or the archive's URL is too long\n");
    return nullptr;
  }
  manifestSetup_ = paths.ManifestSetup(paths.temp);
  manifestSetup_.manifest = &descriptor_.manifest;
  manifestSetup_.archive = descriptor_.archive;
  manifestSetup_.manifestUrl = manifestUrl_;
  manifestSetup_.archiveUrl = archiveUrl_;
  // The mirrors version.cfg names, with the same queries.
  static const char* const kManifestKeys[] = {"Manifest2", "Manifest3"};
  static const char* const kArchiveKeys[] = {"Url2", "Url3"};
  for (std::size_t i = 0; i < 2; ++i) {
    char base[kPathSize] = {};
    char named[8] = {};
    ::GetPrivateProfileStringA(kLauncherSection, kManifestKeys[i], "", base, sizeof base, paths.versionFile);
    if (base[0] != '\0' &&
        (manifest.content.hasDigest ? ComposeDigestUrl(manifestMirrors_[i], kPathSize, base, manifest.content.digest)
                                    : ComposeTickUrl(manifestMirrors_[i], kPathSize, base, ::GetTickCount())))
      manifestSetup_.manifestMirrors[i] = manifestMirrors_[i];
    if (::GetPrivateProfileStringA(kLauncherSection, kArchiveKeys[i], "", named, sizeof named, paths.versionFile) !=
            0 &&
        ComposeArchiveUrl(archiveMirrors_[i], kPathSize, kArchiveKeys[i]))
      manifestSetup_.archiveMirrors[i] = archiveMirrors_[i];
  }
  manifestSetup_.progress = run_.Progress();
  manifestSetup_.limits = run_.Limits();
  manifestSetup_.retry = run_.Setup().retry;
  auto update = std::make_unique<ManifestUpdate>(manifestSetup_);
  if (!update->LoadManifest()) return nullptr;
  return update;
}

// The archive: by its digest prefix when the descriptor names one (a URL a
// cache can answer), else by the tick; from version.cfg's `key` (Url, Url2,
// Url3). False, logged, when it does not fit.
bool UpdateFetch::ComposeArchiveUrl(char* url, std::size_t size, const char* key) const {
  char base[kPathSize] = {};
  ::GetPrivateProfileStringA(kLauncherSection, key, "", base, sizeof base, run_.Paths().versionFile);
  const ArchiveExpectation& expected = descriptor_.archive;
  const bool composed = expected.hasDigest ? ComposeDigestUrl(url, size, base, expected.digest)
                                           : ComposeTickUrl(url, size, base, ::GetTickCount());
  if (!composed) LogTransferFailure(base, kCurlUrlMalformat);
  return composed;
}

bool UpdateFetch::ComposeArchiveFile() {
  return ComposePath(archiveFile_, sizeof archiveFile_, run_.Paths().temp, "ClientContent");
}

// Without a manifest the staging checks its files once the archive's
// directory can be read. A part being resumed needs only its rest; an
// archive of an earlier update kept in Temp gives its room to the staging
// once the new one takes its name, or at once when the transfer, without a
// digest to resume by, writes over it.
bool UpdateFetch::RoomForArchive(std::uint64_t stagedBytes) {
  const RunPaths& paths = run_.Paths();
  const ArchiveExpectation& expected = descriptor_.archive;
  char kept[kPathSize] = {};
  char part[kPathSize] = {};
  std::uint64_t keptSize = 0;
  std::uint64_t partSize = 0;
  if (ComposePath(kept, sizeof kept, paths.temp, "ClientContent") && !base::FileSize(kept, &keptSize)) keptSize = 0;
  if (ComposePath(part, sizeof part, paths.temp, "ClientContent.part") && !base::FileSize(part, &partSize))
    partSize = 0;
  RoomSizes room;
  room.fetched = expected.hasSize ? expected.size : 0;
  room.fetchedOnDisk = expected.hasDigest ? partSize : keptSize;
  room.replacedBeforeStaging = expected.hasDigest ? keptSize : 0;
  room.staged = stagedBytes;
  room.committed = stagedBytes;
  room.margin = kStagingMargin;
  return CheckRoom(room, paths.temp, paths.game) != RoomVerdict::Short;
}

// After the retries on one host, and after a host whose bytes fail the
// checks, the next is tried. A part fetched from one host goes on from the
// next (it is bound to the digest, not to a host).
bool UpdateFetch::FetchArchive() {
  static const char* const kKeys[] = {"Url", "Url2", "Url3"};
  for (std::size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i) {
    char url[kPathSize] = {};
    if (i != 0) {
      char named[8] = {};
      if (::GetPrivateProfileStringA(kLauncherSection, kKeys[i], "", named, sizeof named, run_.Paths().versionFile) ==
          0)
        continue;
      if (!ComposeArchiveUrl(url, sizeof url, kKeys[i])) continue;
      WriteLog(descriptor_.archive.hasDigest
                   ? "Trying the next mirror of the archive (%s)\n"
                   : "Trying the next mirror of the archive (%s) without a Sha256 to check it by\n",
               url);
    } else if (!ComposeArchiveUrl(url, sizeof url)) {
      continue;
    }
    if (FetchArchiveFrom(url)) {
      if (i != 0) WriteLog("Fetched the archive from mirror (%s)\n", url);
      return true;
    }
    if (run_.Stopping() || run_.DiskFull()) return false;  // another host brings no more room
  }
  return false;
}

// The digest is taken while the archive streams in, also when the
// descriptor names none: install.cfg records it for a later repair. An
// archive that fails its size or digest is logged and deleted.
bool UpdateFetch::FetchArchiveFrom(const char* url) {
  ArchiveBodyCheck check(descriptor_.archive);
  fetchedDigestKnown_ = false;
  if (descriptor_.archive.hasDigest) return FetchArchivePart(url, &check);
  if (run_.FetchIntoTemp(url, "ClientContent", archiveFile_, sizeof archiveFile_, &check)) {
    SetArchiveDigest(check.Verifier().ReceivedDigest());
    return true;
  }
  if (!check.Refused()) return false;  // the transfer's own failure, logged
  LogArchiveRefusal(check.Last(), check.Verifier());
  ::DeleteFileA(archiveFile_);
  return false;
}

// With a digest the archive arrives in Temp\ClientContent.part, which a
// later attempt or run continues, and becomes Temp\ClientContent only once
// its size and digest match.
bool UpdateFetch::FetchArchivePart(const char* url, ArchiveBodyCheck* check) {
  const RunPaths& paths = run_.Paths();
  char part[kPathSize] = {};
  char record[kPathSize] = {};
  if (!ComposeArchiveFile() || !ComposePath(part, sizeof part, paths.temp, "ClientContent.part") ||
      !ComposePath(record, sizeof record, paths.temp, "ClientContent.part.sha256")) {
    WriteLog("Failed to open %s\n", CutPath(paths.temp, "ClientContent.part").text);
    return false;
  }
  PartFiles files;
  files.recordPath = record;
  files.expected = descriptor_.archive;
  if (!FetchFile(part, url, run_.Progress(), run_.Limits(), run_.Setup().retry, check, &files,
                 run_.DiskFullFlag())) {
    if (!check->Refused()) return false;  // the transfer's own failure, logged; the part stays
    LogArchiveRefusal(check->Last(), check->Verifier());
    ::DeleteFileA(part);
    ::DeleteFileA(record);
    return false;
  }
  if (!::MoveFileExA(part, archiveFile_, MOVEFILE_REPLACE_EXISTING)) {
    WriteLog("Failed to MoveFileEx(%s, %s), GetLastError=%d\n", part, archiveFile_,
             static_cast<int>(::GetLastError()));
    return false;
  }
  ::DeleteFileA(record);
  SetArchiveDigest(check->Verifier().ReceivedDigest());
  return true;
}

}  // namespace update
