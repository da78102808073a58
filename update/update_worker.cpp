#include "update/update_worker.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/bounded_format.h"
#include "base/progress_targets.h"
#include "update/verify/client_verify.h"
#include "update/incremental/manifest_update.h"
#include "update/install/commit.h"
#include "update/install/room_check.h"
#include "update/trust/descriptor_trust.h"
#include "update/verify/file_digest.h"
#include "base/file_size.h"
#include "update/transfer_rules.h"
#include "update/directory_levels.h"
#include "update/self_update/launcher_update.h"
#include "update/download_log.h"
#include "update/update_paths.h"
#include "update/transfer/line_meter.h"
#include "update/transfer/system_proxy.h"

namespace update {

namespace {

// Message texts in code page 936 (GBK) bytes.
const char kCaption[] = "\xcc\xe1\xca\xbe";  // 提示
const char kTempFailed[] =                   // 创建Temp目录失败，请重新启动
    "\xb4\xb4\xbd\xa8" "Temp" "\xc4\xbf\xc2\xbc\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kVersionFailed[] =                // 下载版本文件错误，请重新启动
    "\xcf\xc2\xd4\xd8\xb0\xe6\xb1\xbe\xce\xc4\xbc\xfe\xb4\xed\xce\xf3\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kArchiveFailed[] =                // 下载游戏资源错误，请重新启动
    "\xcf\xc2\xd4\xd8\xd3\xce\xcf\xb7\xd7\xca\xd4\xb4\xb4\xed\xce\xf3\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kInstallFailed[] =                // 安装游戏失败，请重新启动
    "\xb0\xb2\xd7\xb0\xd3\xce\xcf\xb7\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";
const char kRepairFailed[] =                 // 修复游戏文件失败，请重新启动
    "\xd0\xde\xb8\xb4\xd3\xce\xcf\xb7\xce\xc4\xbc\xfe\xca\xa7\xb0\xdc\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";

const char kNoSpace[] =                      // 磁盘空间不足，请重新启动
    "\xb4\xc5\xc5\xcc\xbf\xd5\xbc\xe4\xb2\xbb\xd7\xe3\xa3\xac\xc7\xeb\xd6\xd8\xd0\xc2\xc6\xf4\xb6\xaf";

const char kSection[] = "Launcher";
const char kGameExecutable[] = "TLVR.exe";
constexpr int kCurlUrlMalformat = 3;  // CURLE_URL_MALFORMAT
constexpr int kVerifyStage = 4;       // "正在校验游戏文件...", between the update and the game start

// A path for the log line of a composition that did not fit: as much as fits.
struct CutPath {
  CutPath(const char* directory, const char* name) {
    base::FormatTruncated(text, sizeof text, "%s\\%s", directory, name);
  }
  char text[kPathSize];
};

class UpdateRun {
 public:
  UpdateRun(const WorkerSetup& setup, const GameParameters& parameters)
      : setup_(setup), parameters_(parameters), limits_(setup.limits) {
    proxy_.configured = setup.proxy != nullptr ? setup.proxy : "";
    proxy_.system = ReadSystemProxySettings();
    limits_.proxy = &proxy_;
    limits_.meter = &line_;
  }

  // A stop request (the player's cancel, the launcher's exit) is looked at
  // between the steps, and inside the transfers and the staging; a commit
  // that has begun, the interrupted one included, is finished first.
  void Execute() {
    if (!PrepareTemp()) return CloseLauncher(kTempFailed);
    ShowStage(0, 25);
    if (!FinishInterruptedCommit()) {
      WriteLog("Failed to install game\n");
      return CloseLauncher(kInstallFailed);
    }
    if (Stopping()) return CloseLauncher(nullptr);
    if (!LoadTrustedKeys(setup_.publicKey, setup_.publicKey2, &keys_)) return CloseLauncher(kVersionFailed);
    LogProxyConfig(proxy_);
    if (!FetchVersionDescriptor()) return CloseLauncher(kVersionFailed);
    if (!TrustVersionDescriptor()) return CloseLauncher(kVersionFailed);
    if (Stopping()) return CloseLauncher(nullptr);
    // Before the game's update, so that a run that fails later still leaves
    // the new launcher for the next start.
    if (UpdateLauncherFiles() == LauncherUpdateResult::Stopped || Stopping()) return CloseLauncher(nullptr);
    if (!PrepareGame()) return;  // the one ending that leaves the launcher open
    if (installRecord_[0] == '\0') {
      WriteLog("Failed to install game\n");
      return CloseLauncher(kInstallFailed);
    }

    const INT remote = static_cast<INT>(::GetPrivateProfileIntA(kSection, "Version", 0, versionFile_));
    const INT installed = static_cast<INT>(::GetPrivateProfileIntA(kSection, "Version", 0, installRecord_));
    bool archiveJustInstalled = false;
    if (NeedsUpdate(installed, remote)) {
      if (!Update(remote)) return;
      archiveJustInstalled = true;
    }
    if (Stopping()) return CloseLauncher(nullptr);
    if ((setup_.repairOnEntry || parameters_.RepairRequested()) && !Repair(remote, archiveJustInstalled)) return;
    // The last safe point: a cancel that came during the commit (or the
    // check) leaves the client complete and recorded, and the game not started.
    if (Stopping()) return CloseLauncher(nullptr);
    ShowStage(3, 100);
    StartGame();
    AskMainWindowToClose();  // the game's start is the run's end, whatever is asked now
  }

 private:
  bool PrepareTemp() {
    const DWORD length = ::GetCurrentDirectoryA(sizeof current_, current_);
    if (length == 0 || length >= sizeof current_) {
      std::memset(current_, 0, sizeof current_);
      WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", "Temp", static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
      return false;
    }
    if (!ComposePath(tempDirectory_, sizeof tempDirectory_, current_, "Temp")) {
      WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", CutPath(current_, "Temp").text,
               static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
      return false;
    }
    if (::PathFileExistsA(tempDirectory_)) return true;
    if (::CreateDirectoryA(tempDirectory_, nullptr)) return true;
    WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", tempDirectory_, static_cast<int>(::GetLastError()));
    return false;
  }

  // The paths the commit and its recovery use, composed before the version
  // check; a commit never began when they do not fit.
  bool ComposeCommitPaths() {
    ComposePath(installRecord_, sizeof installRecord_, current_, "install.cfg");
    ComposePath(installedManifest_, sizeof installedManifest_, current_, "install.manifest");
    return installRecord_[0] != '\0' && ComposePath(gameDirectory_, sizeof gameDirectory_, current_, "Game") &&
           ComposePath(stagingDirectory_, sizeof stagingDirectory_, tempDirectory_, "Staging") &&
           ComposePath(journalFile_, sizeof journalFile_, tempDirectory_, "commit.journal") &&
           std::strlen(journalFile_) + 4 < sizeof journalFile_;  // room for its ".tmp"
  }

  CommitPlace Place() const {
    CommitPlace place;
    place.gameDirectory = gameDirectory_;
    place.stagingDirectory = stagingDirectory_;
    place.journalPath = journalFile_;
    return place;
  }

  // A commit that an earlier run began is finished (and its version
  // recorded) before anything else; false when a target cannot be replaced.
  bool FinishInterruptedCommit() {
    commitPathsFit_ = ComposeCommitPaths();
    if (!commitPathsFit_) return true;
    std::int32_t version = 0;
    switch (RecoverCommit(Place(), &version)) {
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

  // The descriptor with the tick query from [VersionCDN] Url, else from Url2
  // and Url3 in turn, each after its own retries; under a key, its signature
  // comes from the same host. Both are bounded in size.
  bool FetchVersionDescriptor() {
    const char* bases[] = {setup_.versionCdnUrl, setup_.versionCdnUrl2, setup_.versionCdnUrl3};
    for (std::size_t i = 0; i < sizeof bases / sizeof bases[0]; ++i) {
      if (i != 0 && (bases[i] == nullptr || bases[i][0] == '\0')) continue;
      if (i != 0) WriteLog("Trying the next mirror of version.cfg (%s)\n", bases[i]);
      descriptorBase_ = bases[i] != nullptr ? bases[i] : "";
      if (FetchDescriptorFrom(descriptorBase_)) {
        if (i != 0) WriteLog("Fetched version.cfg from mirror (%s)\n", descriptorBase_);
        return true;
      }
      if (Stopping()) return false;
    }
    return false;
  }

  bool FetchDescriptorFrom(const char* base) {
    descriptorTick_ = ::GetTickCount();
    char url[kPathSize] = {};
    if (!ComposeTickUrl(url, sizeof url, base, descriptorTick_)) {
      LogTransferFailure(base, kCurlUrlMalformat);
      return false;
    }
    if (!keys_.Configured()) return Fetch(url, "version.cfg", versionFile_, sizeof versionFile_, nullptr);
    LimitCheck limit(kMaxSignedDescriptorBytes);
    if (Fetch(url, "version.cfg", versionFile_, sizeof versionFile_, &limit)) return FetchSignature();
    if (limit.Exceeded()) LogDescriptorRefusal(DescriptorRefusal::DescriptorTooLarge);
    return false;
  }

  // Under a key: the signature (fetched with the descriptor) must verify. Always: what the descriptor says
  // of the archive must be readable (and, under a key, name its digest).
  bool TrustVersionDescriptor() {
    if (keys_.Configured() && !CheckDescriptorSignature(versionFile_, signatureFile_, keys_)) return false;
    return ReadArchiveExpectation(versionFile_, keys_.Configured(), &expected_) &&
           ReadManifestExpectation(versionFile_, keys_.Configured(), &manifestExpected_);
  }

  LauncherUpdateResult UpdateLauncherFiles() {
    if (setup_.launcherPath == nullptr || setup_.launcherPath[0] == '\0' || installRecord_[0] == '\0')
      return LauncherUpdateResult::Unchanged;
    LauncherUpdateSetup launcher;
    launcher.launcherPath = setup_.launcherPath;
    launcher.tempDirectory = tempDirectory_;
    launcher.installRecord = installRecord_;
    launcher.versionFile = versionFile_;
    launcher.descriptorSigned = keys_.Configured();  // a configured key's signature has been checked
    launcher.transfer.progress = setup_.progress;
    launcher.transfer.limits = limits_;
    launcher.transfer.retry = setup_.retry;
    launcher.swap = setup_.swap;
    return UpdateLauncher(launcher);
  }

  bool FetchSignature() {
    char base[kPathSize] = {};
    char url[kPathSize] = {};
    if (!base::FormatInto(base, sizeof base, "%s.minisig", descriptorBase_) ||
        !ComposeTickUrl(url, sizeof url, base, descriptorTick_)) {
      LogTransferFailure(base, kCurlUrlMalformat);
      LogDescriptorRefusal(DescriptorRefusal::SignatureNotFetched);
      return false;
    }
    LimitCheck limit(kMaxSignatureFileBytes);
    if (Fetch(url, "version.cfg.minisig", signatureFile_, sizeof signatureFile_, &limit)) return true;
    LogDescriptorRefusal(limit.Exceeded() ? DescriptorRefusal::SignatureTooLarge
                                          : DescriptorRefusal::SignatureNotFetched);
    return false;
  }

  // Fetches `url` into Temp\<name>, leaving the local path in `localFile`. A
  // path that does not fit fails the transfer.
  bool Fetch(const char* url, const char* name, char* localFile, std::size_t localFileSize,
             BodyCheck* check) {
    if (!ComposePath(localFile, localFileSize, tempDirectory_, name)) {
      WriteLog("Failed to open %s\n", CutPath(tempDirectory_, name).text);
      return false;
    }
    return FetchFile(localFile, url, setup_.progress, limits_, setup_.retry, check, nullptr, &diskFull_);
  }

  bool PrepareGame() {
    if (gameDirectory_[0] == '\0') ComposePath(gameDirectory_, sizeof gameDirectory_, current_, "Game");
    if (gameDirectory_[0] != '\0' && (::PathFileExistsA(gameDirectory_) || ::CreateDirectoryA(gameDirectory_, nullptr)))
      return true;
    WriteLog("Failed to CreateDirectory(%s)\n", gameDirectory_[0] ? gameDirectory_ : CutPath(current_, "Game").text);
    return false;
  }

  // Fetches and installs the archive and records it. False when the launcher
  // was closed.
  bool Update(INT remote) {
    ShowStage(1, 50);
    std::unique_ptr<ManifestUpdate> byManifest = StartManifestUpdate();
    std::vector<JournalEntry> removals;
    if (byManifest) {
      const ManifestResult result = byManifest->Apply(remote);
      if (result == ManifestResult::Installed) {
        ShowStage(2, 75);
        fetchedDigest_ = byManifest->ArchiveDigest();
        fetchedDigestKnown_ = true;
        RecordVersion(remote);
        RecordArchiveDigest();
        byManifest->KeepAsInstalled();
        return true;
      }
      if (result != ManifestResult::WholeArchive) {
        // No room before the ranges: nothing was fetched, nothing installed.
        // No room, or no host for the ranges: nothing of Game changed, what was fetched waits.
        const bool fetching = result == ManifestResult::NoSpace || result == ManifestResult::FetchFailed;
        if (!Stopping() && !fetching) WriteLog("Failed to install game\n");
        CloseLauncher(result == ManifestResult::NoSpace       ? kNoSpace
                      : result == ManifestResult::FetchFailed ? kArchiveFailed
                                                              : kInstallFailed);
        return false;
      }
      removals = byManifest->Removals();
    }
    if (Stopping()) {  // the ranges ended by the stop: no whole archive either
      CloseLauncher(nullptr);
      return false;
    }
    if (!RoomForArchive(byManifest ? byManifest->ArchiveFileBytes() : 0)) {
      CloseLauncher(kNoSpace);
      return false;
    }
    if (!FetchArchive()) {
      CloseLauncher(diskFull_ ? kNoSpace : kArchiveFailed);
      return false;
    }
    if (Stopping()) {
      CloseLauncher(nullptr);
      return false;
    }
    ShowStage(2, 75);
    ManifestUpdate::UnbindInstalledManifest(installRecord_);
    const InstallResult result = commitPathsFit_ ? InstallUpdate(Place(), archiveFile_, remote, setup_.progress,
                                                                 nullptr, nullptr, &removals)
                                                 : InstallResult::Failed;
    if (result != InstallResult::Installed) {
      // A stop during the staging is a cancel, not a failed installation.
      if (result != InstallResult::Stopped) WriteLog("Failed to install game\n");
      CloseLauncher(result == InstallResult::NoSpace ? kNoSpace : kInstallFailed);
      return false;
    }
    RecordVersion(remote);
    RecordArchiveDigest();
    if (byManifest) {
      // The manifest stands for the archive from now on: no second copy of the client stays.
      byManifest->KeepAsInstalled();
      ::DeleteFileA(archiveFile_);
    }
    return true;
  }

  // With a manifest named by the descriptor: the manifest fetched and
  // checked, ready to plan the update; null when the whole archive is fetched.
  std::unique_ptr<ManifestUpdate> StartManifestUpdate() {
    if (!manifestExpected_.Named() || !commitPathsFit_ || installedManifest_[0] == '\0') return nullptr;
    const bool composed =
        (manifestExpected_.content.hasDigest
             ? ComposeDigestUrl(manifestUrl_, sizeof manifestUrl_, manifestExpected_.url,
                                manifestExpected_.content.digest)
             : ComposeTickUrl(manifestUrl_, sizeof manifestUrl_, manifestExpected_.url, ::GetTickCount())) &&
        ComposeArchiveUrl(archiveUrl_, sizeof archiveUrl_);
    if (!composed) {
      WriteLog("Fetching the whole archive: the manifest's or the archive's URL is too long\n");
      return nullptr;
    }
    manifestSetup_.place = Place();
    manifestSetup_.tempDirectory = tempDirectory_;
    manifestSetup_.installRecord = installRecord_;
    manifestSetup_.installedManifest = installedManifest_;
    manifestSetup_.manifest = &manifestExpected_;
    manifestSetup_.archive = expected_;
    manifestSetup_.manifestUrl = manifestUrl_;
    manifestSetup_.archiveUrl = archiveUrl_;
    // The mirrors version.cfg names, with the same queries.
    static const char* const kManifestKeys[] = {"Manifest2", "Manifest3"};
    static const char* const kArchiveKeys[] = {"Url2", "Url3"};
    for (std::size_t i = 0; i < 2; ++i) {
      char base[kPathSize] = {};
      char named[8] = {};
      ::GetPrivateProfileStringA(kSection, kManifestKeys[i], "", base, sizeof base, versionFile_);
      if (base[0] != '\0' &&
          (manifestExpected_.content.hasDigest
               ? ComposeDigestUrl(manifestMirrors_[i], kPathSize, base, manifestExpected_.content.digest)
               : ComposeTickUrl(manifestMirrors_[i], kPathSize, base, ::GetTickCount())))
        manifestSetup_.manifestMirrors[i] = manifestMirrors_[i];
      if (::GetPrivateProfileStringA(kSection, kArchiveKeys[i], "", named, sizeof named, versionFile_) != 0 &&
          ComposeArchiveUrl(archiveMirrors_[i], kPathSize, kArchiveKeys[i]))
        manifestSetup_.archiveMirrors[i] = archiveMirrors_[i];
    }
    manifestSetup_.progress = setup_.progress;
    manifestSetup_.limits = limits_;
    manifestSetup_.retry = setup_.retry;
    auto update = std::make_unique<ManifestUpdate>(manifestSetup_);
    if (!update->LoadManifest()) return nullptr;
    return update;
  }

  // The installed archive's SHA-256 goes beside the version; a digest that is
  // not known removes an older one rather than leave it naming another archive.
  void RecordArchiveDigest() {
    char hex[kSha256HexSize] = {};
    if (fetchedDigestKnown_) FormatSha256Hex(fetchedDigest_, hex);
    if (!::WritePrivateProfileStringA(kSection, "Sha256", fetchedDigestKnown_ ? hex : nullptr, installRecord_))
      WriteLog("Failed to write Sha256 to %s, GetLastError=%d\n", installRecord_, static_cast<int>(::GetLastError()));
  }

  bool RecordedArchiveDigest(Sha256Digest* digest) const {
    char hex[2 * kSha256HexSize] = {};
    ::GetPrivateProfileStringA(kSection, "Sha256", "", hex, sizeof hex, installRecord_);
    return ParseSha256Hex(hex, digest);
  }

  // Verifies Game against the installed archive and mends what differs. The
  // archive in Temp is used when it is the one installed; otherwise it is
  // fetched again when the server still offers the same one, and the client
  // is updated as a whole when it does not. False when the launcher was closed.
  bool Repair(INT remote, bool archiveJustInstalled) {
    ShowStage(kVerifyStage, 75);
    switch (RepairByManifest()) {
      case ManifestRepair::Done: return true;
      case ManifestRepair::Closed: return false;
      case ManifestRepair::WithArchive: break;
    }
    if (!archiveJustInstalled && !CachedArchiveIsInstalled()) {
      if (ServerOffersInstalledArchive()) {
        ShowStage(1, 50);
        if (!RoomForArchive(0)) {
          CloseLauncher(kNoSpace);
          return false;
        }
        if (!FetchArchive()) {
          CloseLauncher(diskFull_ ? kNoSpace : kArchiveFailed);
          return false;
        }
        ShowStage(kVerifyStage, 75);
      } else if (!Update(remote)) {
        return false;
      } else {
        ShowStage(kVerifyStage, 75);
      }
    }
    StoreUpper(0);
    const VerifyReport report = VerifyClient(gameDirectory_, archiveFile_, [this](std::uint64_t done, std::uint64_t total) {
      StoreUpper(VerifyPercent(done, total));
    });
    if (report.outcome != VerifyOutcome::Verified) {
      if (report.outcome == VerifyOutcome::EntryRefused) WriteLog("Refused archive entry (%s)\n", report.refusedName.c_str());
      else WriteLog("Failed to open %s\n", archiveFile_);
      WriteLog("Failed to verify game\n");
      CloseLauncher(kRepairFailed);
      return false;
    }
    WriteLog("Verified %llu files (%llu bytes): %llu missing or different\n",
             static_cast<unsigned long long>(report.filesChecked), static_cast<unsigned long long>(report.bytesRead),
             static_cast<unsigned long long>(report.damaged.size()));
    if (report.damaged.empty()) return true;
    ShowStage(2, 75);
    return Mend(report.damaged);
  }

  enum class ManifestRepair { Done, Closed, WithArchive };

  // When the server's manifest is the installed one, Game is verified against
  // it and only the damaged entries are fetched, as ranges of the installed
  // version's archive; no archive needs to be kept in Temp for this.
  ManifestRepair RepairByManifest() {
    std::unique_ptr<ManifestUpdate> byManifest = StartManifestUpdate();
    if (!byManifest || !byManifest->DescribesInstalled()) return ManifestRepair::WithArchive;
    StoreUpper(0);
    const INT installed = static_cast<INT>(::GetPrivateProfileIntA(kSection, "Version", 0, installRecord_));
    const ManifestResult result = byManifest->Repair(installed);
    switch (result) {
      case ManifestResult::Installed:
        RecordVersion(installed);
        byManifest->KeepAsInstalled();
        return ManifestRepair::Done;
      case ManifestResult::WholeArchive:
        return ManifestRepair::WithArchive;
      case ManifestResult::NoSpace:
      case ManifestResult::FetchFailed:
      case ManifestResult::Failed:
      case ManifestResult::Blocked:
        break;
    }
    CloseLauncher(result == ManifestResult::NoSpace ? kNoSpace : kRepairFailed);
    return ManifestRepair::Closed;
  }

  // Stages the damaged entries again and commits them as an update of the
  // installed version to itself: a target that cannot be replaced fails the
  // repair and leaves the journal, so that the next start finishes the mend.
  bool Mend(const std::vector<DamagedEntry>& damaged) {
    std::set<std::string> names;
    for (const DamagedEntry& entry : damaged) names.insert(entry.name);
    const INT installed = static_cast<INT>(::GetPrivateProfileIntA(kSection, "Version", 0, installRecord_));
    std::uint64_t committed = 0;
    const InstallResult result = commitPathsFit_ ? InstallUpdate(Place(), archiveFile_, installed, setup_.progress,
                                                                 &names, &committed)
                                                 : InstallResult::Failed;
    WriteLog("Mended %llu of %llu files\n", static_cast<unsigned long long>(committed),
             static_cast<unsigned long long>(damaged.size()));
    if (result != InstallResult::Installed) {
      CloseLauncher(result == InstallResult::NoSpace ? kNoSpace : kRepairFailed);
      return false;
    }
    RecordVersion(installed);
    return true;
  }

  // The archive in Temp is the one installed: its SHA-256 is the one
  // install.cfg records. Reading it moves the upper bar.
  bool CachedArchiveIsInstalled() {
    Sha256Digest recorded;
    if (!ComposePath(archiveFile_, sizeof archiveFile_, tempDirectory_, "ClientContent") ||
        !RecordedArchiveDigest(&recorded))
      return false;
    StoreUpper(0);
    Sha256Digest kept;
    if (!FileSha256(archiveFile_, &kept, [this](std::uint64_t done, std::uint64_t total) {
          StoreUpper(VerifyPercent(done, total));
        }))
      return false;
    return std::memcmp(kept.bytes, recorded.bytes, sizeof kept.bytes) == 0;
  }

  // The descriptor names, by its Sha256, the archive install.cfg records.
  bool ServerOffersInstalledArchive() const {
    Sha256Digest recorded;
    return expected_.hasDigest && RecordedArchiveDigest(&recorded) &&
           std::memcmp(expected_.digest.bytes, recorded.bytes, sizeof recorded.bytes) == 0;
  }

  void StoreUpper(std::int32_t percent) {
    if (setup_.progress != nullptr) setup_.progress->upperTarget.store(percent);
  }

  // The archive: by its digest prefix when the descriptor names one (a URL a
  // cache can answer), else by the tick. An archive that fails its size or
  // digest is logged and deleted.
  // The archive's URL from version.cfg's `key` (Url, Url2, Url3) with its
  // query; false, logged, when it does not fit.
  bool ComposeArchiveUrl(char* url, std::size_t size, const char* key = "Url") const {
    char base[kPathSize] = {};
    ::GetPrivateProfileStringA(kSection, key, "", base, sizeof base, versionFile_);
    const bool composed = expected_.hasDigest ? ComposeDigestUrl(url, size, base, expected_.digest)
                                              : ComposeTickUrl(url, size, base, ::GetTickCount());
    if (!composed) LogTransferFailure(base, kCurlUrlMalformat);
    return composed;
  }

  // Before the archive's first byte: room for what the descriptor says it
  // holds and for `stagedBytes` of files unpacked from it (known from a
  // manifest; without one the staging checks its files once the archive's
  // directory can be read). A part being resumed needs only its rest; an
  // archive of an earlier update kept in Temp gives its room to the staging
  // once the new one takes its name, or at once when the transfer, without a
  // digest to resume by, writes over it. False, logged, when a volume is short.
  bool RoomForArchive(std::uint64_t stagedBytes) {
    char kept[kPathSize] = {};
    char part[kPathSize] = {};
    std::uint64_t keptSize = 0;
    std::uint64_t partSize = 0;
    if (ComposePath(kept, sizeof kept, tempDirectory_, "ClientContent") && !base::FileSize(kept, &keptSize))
      keptSize = 0;
    if (ComposePath(part, sizeof part, tempDirectory_, "ClientContent.part") && !base::FileSize(part, &partSize))
      partSize = 0;
    RoomSizes room;
    room.fetched = expected_.hasSize ? expected_.size : 0;
    room.fetchedOnDisk = expected_.hasDigest ? partSize : keptSize;
    room.replacedBeforeStaging = expected_.hasDigest ? keptSize : 0;
    room.staged = stagedBytes;
    room.committed = stagedBytes;
    room.margin = kStagingMargin;
    return CheckRoom(room, tempDirectory_, gameDirectory_) != RoomVerdict::Short;
  }

  // From version.cfg's Url, else from Url2 and Url3 in turn, each after its
  // own retries, and after a host whose bytes fail the checks. A part fetched
  // from one host goes on from the next (it is bound to the digest, not to a
  // host).
  bool FetchArchive() {
    static const char* const kKeys[] = {"Url", "Url2", "Url3"};
    for (std::size_t i = 0; i < sizeof kKeys / sizeof kKeys[0]; ++i) {
      char url[kPathSize] = {};
      if (i != 0) {
        char named[8] = {};
        if (::GetPrivateProfileStringA(kSection, kKeys[i], "", named, sizeof named, versionFile_) == 0) continue;
        if (!ComposeArchiveUrl(url, sizeof url, kKeys[i])) continue;
        WriteLog(expected_.hasDigest ? "Trying the next mirror of the archive (%s)\n"
                                     : "Trying the next mirror of the archive (%s) without a Sha256 to check it by\n",
                 url);
      } else if (!ComposeArchiveUrl(url, sizeof url)) {
        continue;
      }
      if (FetchArchiveFrom(url)) {
        if (i != 0) WriteLog("Fetched the archive from mirror (%s)\n", url);
        return true;
      }
      if (Stopping() || diskFull_) return false;  // another host brings no more room
    }
    return false;
  }

  bool FetchArchiveFrom(const char* url) {
    // The digest is taken while the archive streams in, also when the
    // descriptor names none: install.cfg records it for a later repair.
    ArchiveBodyCheck check(expected_);
    fetchedDigestKnown_ = false;
    if (expected_.hasDigest) return FetchArchivePart(url, &check);
    if (Fetch(url, "ClientContent", archiveFile_, sizeof archiveFile_, &check)) {
      fetchedDigest_ = check.Verifier().ReceivedDigest();
      fetchedDigestKnown_ = true;
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
  bool FetchArchivePart(const char* url, ArchiveBodyCheck* check) {
    char part[kPathSize] = {};
    char record[kPathSize] = {};
    if (!ComposePath(archiveFile_, sizeof archiveFile_, tempDirectory_, "ClientContent") ||
        !ComposePath(part, sizeof part, tempDirectory_, "ClientContent.part") ||
        !ComposePath(record, sizeof record, tempDirectory_, "ClientContent.part.sha256")) {
      WriteLog("Failed to open %s\n", CutPath(tempDirectory_, "ClientContent.part").text);
      return false;
    }
    PartFiles files;
    files.recordPath = record;
    files.expected = expected_;
    if (!FetchFile(part, url, setup_.progress, limits_, setup_.retry, check, &files, &diskFull_)) {
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
    fetchedDigest_ = check->Verifier().ReceivedDigest();
    fetchedDigestKnown_ = true;
    return true;
  }

  // The client is complete whether or not the record can be written, so the
  // game still starts; but a record that did not take makes every later run
  // install the archive again, which the log must explain.
  void RecordVersion(INT version) {
    char number[16] = {};
    base::FormatInto(number, sizeof number, "%d", version);
    if (!::WritePrivateProfileStringA(kSection, "Version", number, installRecord_)) {
      // The journal stays, so that the next start records the version again.
      WriteLog("Failed to write version %s to %s, GetLastError=%d\n", number, installRecord_,
               static_cast<int>(::GetLastError()));
      return;
    }
    EndCommit(Place());
  }

  void StartGame() {
    char executable[kPathSize] = {};
    if (!ComposePath(executable, sizeof executable, gameDirectory_, kGameExecutable)) {
      WriteLog("Failed to start game. error=(%d)\n", static_cast<int>(ERROR_FILENAME_EXCED_RANGE));
      return;
    }
    // The latest string the page handed over, copied whole under its lock.
    auto parameters = std::make_unique<char[]>(GameParameters::kSize);
    parameters_.CopyTo(parameters.get(), GameParameters::kSize);

    // The shell may use COM for what it starts; give this thread an apartment.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const HINSTANCE started =
        ::ShellExecuteA(nullptr, "open", executable, parameters.get(), gameDirectory_, SW_SHOWNORMAL);
    const DWORD error = ::GetLastError();
    if (SUCCEEDED(com)) ::CoUninitialize();
    if (reinterpret_cast<INT_PTR>(started) <= 32)
      WriteLog("Failed to start game. error=(%d)\n", static_cast<int>(error));
    else
      WriteLog("Successfully started the game.");
  }

  // Stage S at P %: the lower bar never goes back, and the stage line's
  // count starts again; the GUI thread repaints the window (an invalidation,
  // never a wait on that thread).
  void ShowStage(int stage, int percent) {
    if (setup_.progress != nullptr) {
      setup_.progress->RaiseLowerTarget(percent);
      setup_.progress->count.Clear();
      setup_.progress->stageIndex.store(stage);
    }
    if (setup_.progressWindow != nullptr) {
      RECT client;
      ::GetClientRect(setup_.progressWindow, &client);
      ::InvalidateRect(setup_.progressWindow, &client, TRUE);
    }
  }

  bool Stopping() const { return setup_.progress != nullptr && setup_.progress->stop.Requested(); }

  // Shows `message` (when not null) and asks the main window to close. After
  // a stop request the ending is the player's cancel (or the exit), whatever
  // step it ended: no box, "Cancelled" in the log.
  void CloseLauncher(const char* message) {
    if (Stopping()) {
      WriteLog("Cancelled\n");
    } else if (message != nullptr) {
      ::MessageBoxA(nullptr, message, kCaption, MB_OK);
    }
    AskMainWindowToClose();
  }

  void AskMainWindowToClose() { ::PostMessageA(setup_.mainWindow, WM_DESTROY, 0, 0); }

  const WorkerSetup& setup_;
  const GameParameters& parameters_;
  ProxyConfig proxy_;
  LineMeter line_;                 // what the run's transfers saw of the line
  TransferLimits limits_;          // the setup's, with the run's proxy settings and line
  const char* descriptorBase_ = "";  // the [VersionCDN] URL version.cfg came from
  char manifestMirrors_[2][kPathSize] = {};  // Manifest2, Manifest3 with their queries
  char archiveMirrors_[2][kPathSize] = {};   // Url2, Url3 with theirs
  char current_[kPathSize] = {};
  char tempDirectory_[kPathSize] = {};
  char versionFile_[kPathSize] = {};
  char gameDirectory_[kPathSize] = {};
  char installRecord_[kPathSize] = {};
  char archiveFile_[kPathSize] = {};
  char signatureFile_[kPathSize] = {};
  char stagingDirectory_[kPathSize] = {};
  char journalFile_[kPathSize] = {};
  char installedManifest_[kPathSize] = {};
  char manifestUrl_[kPathSize] = {};
  char archiveUrl_[kPathSize] = {};
  ManifestExpectation manifestExpected_;
  ManifestUpdateSetup manifestSetup_;
  bool commitPathsFit_ = false;
  DWORD descriptorTick_ = 0;
  TrustedKeys keys_;
  ArchiveExpectation expected_;
  Sha256Digest fetchedDigest_;  // of the archive fetched in this run, when fetchedDigestKnown_
  bool fetchedDigestKnown_ = false;
  bool diskFull_ = false;  // the archive's transfer found its volume full
};

}  // namespace

GameParameters::GameParameters() : text_(std::make_unique<char[]>(kSize)) {}

void GameParameters::Store(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::size_t length = text ? std::strlen(text) : 0;
  if (length > kSize - 1) length = kSize - 1;
  if (length != 0) std::memcpy(text_.get(), text, length);
  text_[length] = '\0';
}

void GameParameters::CopyTo(char* out, std::size_t size) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t length = std::min(std::strlen(text_.get()), size - 1);
  std::memcpy(out, text_.get(), length);
  out[length] = '\0';
}

unsigned RunUpdate(const WorkerSetup& setup, const GameParameters& parameters) {
  UpdateRun run(setup, parameters);
  run.Execute();
  return 0;
}

}  // namespace update
