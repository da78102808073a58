#include "update/run/update_commit.h"

#include <windows.h>

#include "base/bounded_format.h"
#include "update/download_log.h"
#include "update/run/player_messages.h"

namespace update {

bool UpdateCommit::FinishInterrupted() {
  if (!run_.ComposeCommitPaths()) return true;
  std::int32_t version = 0;
  switch (RecoverCommit(run_.Paths().Place(), &version)) {
    case RecoveryResult::NoCommit:
    case RecoveryResult::Discarded:
      return true;
    case RecoveryResult::Finished:
      RecordVersion(version);
      return true;
    case RecoveryResult::Blocked:
      return false;
  }
  return false;
}

CommitOutcome UpdateCommit::CommitFetched(UpdateFetch& fetch, FetchOutcome fetched, std::int32_t version) {
  const RunPaths& paths = run_.Paths();
  ManifestUpdate* byManifest = fetch.ByManifest();
  if (fetched == FetchOutcome::ByManifest) {
    if (byManifest->CommitChanges(version) != ManifestResult::Installed) {
      if (!run_.Stopping()) WriteLog("Failed to install game\n");
      return CommitOutcome::Failed;
    }
    run_.ShowStage(2, 75);
    fetch.SetArchiveDigest(byManifest->ArchiveDigest());
    RecordVersion(version);
    RecordArchiveDigest(fetch);
    byManifest->KeepAsInstalled();
    return CommitOutcome::Installed;
  }
  run_.ShowStage(2, 75);
  ManifestUpdate::UnbindInstalledManifest(paths.installRecord);
  const InstallResult result =
      paths.commitPathsFit ? InstallUpdate(paths.Place(), fetch.ArchiveFile(), version, run_.Progress(), nullptr,
                                           nullptr, &fetch.Removals())
                           : InstallResult::Failed;
  // A stop during the staging is a cancel, not a failed installation.
  if (result != InstallResult::Installed && result != InstallResult::Stopped) WriteLog("Failed to install game\n");
  switch (result) {
    case InstallResult::Installed: break;
    case InstallResult::NoSpace: return CommitOutcome::NoSpace;
    case InstallResult::Stopped: return CommitOutcome::Stopped;
    case InstallResult::Failed:
    case InstallResult::Blocked: return CommitOutcome::Failed;
  }
  RecordVersion(version);
  RecordArchiveDigest(fetch);
  if (byManifest != nullptr) {
    // The manifest stands for the archive from now on: no second copy of the client stays.
    byManifest->KeepAsInstalled();
    ::DeleteFileA(fetch.ArchiveFile());
  }
  return CommitOutcome::Installed;
}

InstallResult UpdateCommit::CommitSelection(const char* archiveFile, std::int32_t version,
                                            const std::set<std::string>& names, std::uint64_t* committed) {
  const RunPaths& paths = run_.Paths();
  return paths.commitPathsFit
             ? InstallUpdate(paths.Place(), archiveFile, version, run_.Progress(), &names, committed)
             : InstallResult::Failed;
}

void UpdateCommit::RecordVersion(std::int32_t version) {
  const RunPaths& paths = run_.Paths();
  char number[16] = {};
  base::FormatInto(number, sizeof number, "%d", static_cast<int>(version));
  if (!::WritePrivateProfileStringA(kLauncherSection, "Version", number, paths.installRecord)) {
    // The journal stays, so that the next start records the version again.
    WriteLog("Failed to write version %s to %s, GetLastError=%d\n", number, paths.installRecord,
             static_cast<int>(::GetLastError()));
    return;
  }
  EndCommit(paths.Place());
}

void UpdateCommit::RecordArchiveDigest(const UpdateFetch& fetch) {
  const char* record = run_.Paths().installRecord;
  char hex[kSha256HexSize] = {};
  if (fetch.ArchiveDigestKnown()) FormatSha256Hex(fetch.ArchiveDigest(), hex);
  if (!::WritePrivateProfileStringA(kLauncherSection, "Sha256", fetch.ArchiveDigestKnown() ? hex : nullptr, record))
    WriteLog("Failed to write Sha256 to %s, GetLastError=%d\n", record, static_cast<int>(::GetLastError()));
}

bool UpdateCommit::RecordedArchiveDigest(Sha256Digest* digest) const {
  char hex[2 * kSha256HexSize] = {};
  ::GetPrivateProfileStringA(kLauncherSection, "Sha256", "", hex, sizeof hex, run_.Paths().installRecord);
  return ParseSha256Hex(hex, digest);
}

std::int32_t UpdateCommit::InstalledVersion() const {
  return static_cast<std::int32_t>(
      ::GetPrivateProfileIntA(kLauncherSection, "Version", 0, run_.Paths().installRecord));
}

}  // namespace update
