#include "update/run/client_repair.h"

#include <cstring>
#include <set>
#include <string>

#include "update/download_log.h"
#include "update/run/player_messages.h"
#include "update/transfer_rules.h"
#include "update/verify/client_verify.h"
#include "update/verify/file_digest.h"

namespace update {

namespace {

constexpr std::int32_t kVerifyStage = 4;  // "正在校验游戏文件...", between the update and the game start

}  // namespace

bool ClientRepair::Repair(bool archiveJustInstalled) {
  run_.ShowStage(kVerifyStage, 75);
  switch (RepairByManifest()) {
    case ManifestRepair::Done: return true;
    case ManifestRepair::Closed: return false;
    case ManifestRepair::WithArchive: break;
  }
  if (!archiveJustInstalled && !CachedArchiveIsInstalled()) {
    if (ServerOffersInstalledArchive()) {
      run_.ShowStage(1, 50);
      if (!fetch_.RoomForArchive(0)) {
        run_.CloseLauncher(kNoSpace);
        return false;
      }
      if (!fetch_.FetchArchive()) {
        run_.CloseLauncher(run_.DiskFull() ? kNoSpace : kArchiveFailed);
        return false;
      }
      run_.ShowStage(kVerifyStage, 75);
    } else if (!updateWhole_()) {
      return false;
    } else {
      run_.ShowStage(kVerifyStage, 75);
    }
  }
  run_.StoreUpper(0);
  const RunPaths& paths = run_.Paths();
  const VerifyReport report = VerifyClient(paths.game, fetch_.ArchiveFile(), [this](std::uint64_t done,
                                                                                  std::uint64_t total) {
    run_.StoreUpper(VerifyPercent(done, total));
  });
  if (report.outcome != VerifyOutcome::Verified) {
    if (report.outcome == VerifyOutcome::EntryRefused)
      WriteLog("Refused archive entry (%s)\n", report.refusedName.c_str());
    else
      WriteLog("Failed to open %s\n", fetch_.ArchiveFile());
    WriteLog("Failed to verify game\n");
    run_.CloseLauncher(kRepairFailed);
    return false;
  }
  WriteLog("Verified %llu files (%llu bytes): %llu missing or different\n",
           static_cast<unsigned long long>(report.filesChecked), static_cast<unsigned long long>(report.bytesRead),
           static_cast<unsigned long long>(report.damaged.size()));
  if (report.damaged.empty()) return true;
  run_.ShowStage(2, 75);
  return Mend(report.damaged);
}

// When the server's manifest is the installed one, Game is verified against
// it and only the damaged entries are fetched, as ranges of the installed
// version's archive; no archive needs to be kept in Temp for this.
ClientRepair::ManifestRepair ClientRepair::RepairByManifest() {
  std::unique_ptr<ManifestUpdate> byManifest = fetch_.StartManifestUpdate();
  if (!byManifest || !byManifest->DescribesInstalled()) return ManifestRepair::WithArchive;
  run_.StoreUpper(0);
  const std::int32_t installed = commit_.InstalledVersion();
  const ManifestResult result = byManifest->Repair(installed);
  switch (result) {
    case ManifestResult::Installed:
      commit_.RecordVersion(installed);
      byManifest->KeepAsInstalled();
      return ManifestRepair::Done;
    case ManifestResult::WholeArchive:
      return ManifestRepair::WithArchive;
    case ManifestResult::Fetched:
    case ManifestResult::NoSpace:
    case ManifestResult::FetchFailed:
    case ManifestResult::Failed:
    case ManifestResult::Blocked:
      break;
  }
  run_.CloseLauncher(result == ManifestResult::NoSpace ? kNoSpace : kRepairFailed);
  return ManifestRepair::Closed;
}

// The archive in Temp is the one installed: its SHA-256 is the one
// install.cfg records. Reading it moves the upper bar.
bool ClientRepair::CachedArchiveIsInstalled() {
  Sha256Digest recorded;
  if (!fetch_.ComposeArchiveFile() || !commit_.RecordedArchiveDigest(&recorded)) return false;
  run_.StoreUpper(0);
  Sha256Digest kept;
  if (!FileSha256(fetch_.ArchiveFile(), &kept,
                  [this](std::uint64_t done, std::uint64_t total) { run_.StoreUpper(VerifyPercent(done, total)); }))
    return false;
  return std::memcmp(kept.bytes, recorded.bytes, sizeof kept.bytes) == 0;
}

// The descriptor names, by its Sha256, the archive install.cfg records.
bool ClientRepair::ServerOffersInstalledArchive() const {
  Sha256Digest recorded;
  return descriptor_.archive.hasDigest && commit_.RecordedArchiveDigest(&recorded) &&
         std::memcmp(descriptor_.archive.digest.bytes, recorded.bytes, sizeof recorded.bytes) == 0;
}

// Stages the damaged entries again and commits them as an update of the
// installed version to itself: a target that cannot be replaced fails the
// repair and leaves the journal, so that the next start finishes the mend.
bool ClientRepair::Mend(const std::vector<DamagedEntry>& damaged) {
  std::set<std::string> names;
  for (const DamagedEntry& entry : damaged) names.insert(entry.name);
  const std::int32_t installed = commit_.InstalledVersion();
  std::uint64_t committed = 0;
  const InstallResult result = commit_.CommitSelection(fetch_.ArchiveFile(), installed, names, &committed);
  WriteLog("Mended %llu of %llu files\n", static_cast<unsigned long long>(committed),
           static_cast<unsigned long long>(damaged.size()));
  if (result != InstallResult::Installed) {
    run_.CloseLauncher(result == InstallResult::NoSpace ? kNoSpace : kRepairFailed);
    return false;
  }
  commit_.RecordVersion(installed);
  return true;
}

}  // namespace update
