#include "update/run/update_run.h"

#include "update/download_log.h"
#include "update/run/game_start.h"
#include "update/run/player_messages.h"

namespace update {

UpdateRun::UpdateRun(const WorkerSetup& setup, const GameParameters& parameters)
    : run_(setup), parameters_(parameters), check_(run_), fetch_(run_, descriptor_), commit_(run_) {}

void UpdateRun::Execute() {
  if (!run_.PrepareTemp()) return run_.CloseLauncher(kTempFailed);
  run_.ShowStage(0, 25);
  if (!commit_.FinishInterrupted()) {
    WriteLog("Failed to install game\n");
    return run_.CloseLauncher(kInstallFailed);
  }
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  if (!check_.LoadKeys()) return run_.CloseLauncher(kVersionFailed);
  LogProxyConfig(run_.Proxy());
  if (!check_.Fetch() || !check_.Trust(&descriptor_)) return run_.CloseLauncher(kVersionFailed);
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  // Before the game's update, so that a run that fails later still leaves
  // the new launcher for the next start.
  if (UpdateLauncherFiles() == LauncherUpdateResult::Stopped || run_.Stopping()) return run_.CloseLauncher(nullptr);
  if (!run_.PrepareGame()) return;  // the one ending that leaves the launcher open
  if (run_.Paths().installRecord[0] == '\0') {
    WriteLog("Failed to install game\n");
    return run_.CloseLauncher(kInstallFailed);
  }

  bool archiveJustInstalled = false;
  if (NeedsUpdate(commit_.InstalledVersion(), descriptor_.version)) {
    if (!Update()) return;
    archiveJustInstalled = true;
  }
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  if (run_.Setup().repairOnEntry || parameters_.RepairRequested()) {
    ClientRepair repair(run_, descriptor_, fetch_, commit_, [this] { return Update(); });
    if (!repair.Repair(archiveJustInstalled)) return;
  }
  // The last safe point: a cancel that came during the commit (or the
  // check) leaves the client complete and recorded, and the game not started.
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  run_.ShowStage(3, 100);
  StartGame(run_.Paths().game, parameters_);
  run_.AskMainWindowToClose();  // the game's start is the run's end, whatever is asked now
}

LauncherUpdateResult UpdateRun::UpdateLauncherFiles() {
  const WorkerSetup& setup = run_.Setup();
  const RunPaths& paths = run_.Paths();
  if (setup.launcherPath == nullptr || setup.launcherPath[0] == '\0' || paths.installRecord[0] == '\0')
    return LauncherUpdateResult::Unchanged;
  LauncherUpdateSetup launcher;
  launcher.launcherPath = setup.launcherPath;
  launcher.tempDirectory = paths.temp;
  launcher.installRecord = paths.installRecord;
  launcher.versionFile = paths.versionFile;
  launcher.descriptorSigned = check_.SignedByKey();  // a configured key's signature has been checked
  launcher.transfer.progress = setup.progress;
  launcher.transfer.limits = run_.Limits();
  launcher.transfer.retry = setup.retry;
  launcher.swap = setup.swap;
  return UpdateLauncher(launcher);
}

bool UpdateRun::Update() {
  const std::int32_t version = descriptor_.version;
  const FetchOutcome fetched = fetch_.FetchUpdate();
  switch (fetched) {
    case FetchOutcome::ByManifest:
    case FetchOutcome::WholeArchive:
      break;
    case FetchOutcome::NoSpace:
      run_.CloseLauncher(kNoSpace);
      return false;
    case FetchOutcome::ManifestFailed:
      if (!run_.Stopping()) WriteLog("Failed to install game\n");
      run_.CloseLauncher(kInstallFailed);
      return false;
    case FetchOutcome::ArchiveFailed:
      run_.CloseLauncher(run_.DiskFull() ? kNoSpace : kArchiveFailed);
      return false;
    case FetchOutcome::Stopped:
      run_.CloseLauncher(nullptr);
      return false;
  }
  switch (commit_.CommitFetched(fetch_, fetched, version)) {
    case CommitOutcome::Installed:
      return true;
    case CommitOutcome::NoSpace:
      run_.CloseLauncher(kNoSpace);
      return false;
    case CommitOutcome::Failed:
    case CommitOutcome::Stopped:
      run_.CloseLauncher(kInstallFailed);
      return false;
  }
  return false;
}

}  // namespace update
