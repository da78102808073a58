#include "update/run/update_run.h"

#include <shlwapi.h>

#include "update/download_log.h"
#include "update/run/fetch_ahead.h"
#include "update/run/game_start.h"
#include "update/run/player_messages.h"

namespace update {

UpdateRun::UpdateRun(const WorkerSetup& setup, const GameParameters& parameters, HandOver* handOver)
    : run_(setup, handOver),
      parameters_(parameters),
      handOver_(handOver),
      check_(run_),
      fetch_(run_, descriptor_),
      commit_(run_) {}

void UpdateRun::Execute() {
  if (!run_.PrepareTemp()) return run_.CloseLauncher(kTempFailed);
  run_.ShowStage(0, 25);
  if (!commit_.FinishInterrupted()) {
    WriteLog("Failed to install game\n");
    return run_.CloseLauncher(kInstallFailed);
  }
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  if (!check_.LoadKeys()) {
    ReportChecked(false, true);
    return run_.CloseLauncher(kVersionFailed);
  }
  LogProxyConfig(run_.Proxy());
  const bool fetched = check_.Fetch();
  const bool trusted = fetched && check_.Trust(&descriptor_);
  ReportChecked(trusted, fetched);
  if (!trusted) return run_.CloseLauncher(kVersionFailed);
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  Finish(ClickStep::FromCheck);
}

void UpdateRun::ExecuteFromPageView() {
  const BackgroundResult reached = Background();
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  base::StopRequest never;  // without progress targets nothing asks the run to stop
  const base::StopRequest& stop = run_.Progress() != nullptr ? run_.Progress()->stop : never;
  if (!handOver_->WaitForEntry(stop)) return run_.CloseLauncher(nullptr);
  AfterClick(reached);
}

// Nothing here changes Game, install.cfg or install.manifest; nothing shows a
// box. A step that fails is logged (by the step) and the click tries again.
BackgroundResult UpdateRun::Background() {
  if (!run_.PrepareTemp()) return BackgroundResult::Failed;
  run_.ShowStage(0, 25);
  // An interrupted commit is finished once the page asks for the game; until
  // then the client is neither old nor new, and nothing can be planned on it.
  if (!run_.ComposeCommitPaths() || ::PathFileExistsA(run_.Paths().journal)) return BackgroundResult::NotRun;
  if (!check_.LoadKeys()) {
    ReportChecked(false, true);
    return BackgroundResult::Failed;
  }
  LogProxyConfig(run_.Proxy());
  const bool fetched = check_.Fetch();
  const bool trusted = fetched && check_.Trust(&descriptor_);
  if (run_.Stopping()) return BackgroundResult::NotRun;
  ReportChecked(trusted, fetched);
  if (!trusted) return BackgroundResult::Failed;
  if (!run_.PrepareGame()) return BackgroundResult::Failed;

  UpdateState& state = run_.State();
  state.installedKnown = true;
  state.installed = commit_.InstalledVersion();
  if (!NeedsUpdate(state.installed, descriptor_.version)) {
    run_.ReportStage(UpdateStage::Current);
    FetchNextAhead();
    return BackgroundResult::Current;
  }
  state.fetchLive = true;
  run_.ReportStage(UpdateStage::Fetching);
  backgroundFetch_ = fetch_.FetchUpdate();
  state.fetchLive = false;
  switch (backgroundFetch_) {
    case FetchOutcome::ByManifest:
    case FetchOutcome::WholeArchive:
      state.fetch = run_.CountedBytes();
      if (state.fetch.total == 0) state.fetch.total = state.fetch.done;
      run_.ReportStage(UpdateStage::Ready);
      return BackgroundResult::Ready;
    case FetchOutcome::Stopped:
      return BackgroundResult::NotRun;
    case FetchOutcome::NoSpace:
    case FetchOutcome::ManifestFailed:
    case FetchOutcome::ArchiveFailed:
      break;
  }
  run_.ReportStage(UpdateStage::Failed);
  if (handOver_->Entered()) {
    clickSawFetchFail_ = true;  // the click had joined this fetch: its failure is the click's
  } else {
    WriteLog("Fetching the update in the background failed: entering the game tries again\n");
  }
  return BackgroundResult::Failed;
}

// Never installed: what the next version needs waits in Temp\Next until a
// descriptor names that version as the live one.
void UpdateRun::FetchNextAhead() {
  const NextRelease& next = descriptor_.next;
  UpdateState& state = run_.State();
  if (handOver_->Entered() ||
      !FetchAheadDue(state.installed, descriptor_.version, next.named, next.version, next.manifest.Named()))
    return;
  state.nextNamed = true;
  state.next = next.version;
  state.nextLive = true;
  run_.PublishState();
  AheadFetch ahead(run_, descriptor_, &handOver_->Ahead());
  const bool fetched = ahead.Fetch();
  state.nextLive = false;
  if (fetched) {
    const ByteCount counted = CountedBytes(handOver_->Ahead());
    const std::uint64_t all = counted.total > counted.done ? counted.total : counted.done;
    state.nextFetch = {all, all};
  } else {
    state.nextNamed = false;  // a page waiting for it would wait for ever
  }
  run_.PublishState();
}

void UpdateRun::AfterClick(BackgroundResult reached) {
  if (clickSawFetchFail_) return EndFailedFetch(backgroundFetch_);
  // The descriptor's age when the click came, however long a fetch it joined went on after it.
  const ClickPlan plan = PlanClick(
      reached, DescriptorStale(descriptor_.fetchedAt, handOver_->EnteredAt(), run_.Setup().descriptorFreshMs));
  if (plan.step == ClickStep::StartOver) return Execute();
  ClickStep step = plan.step;
  if (plan.fetchDescriptorAgain) {
    const ReleaseFacts before = Facts();
    const bool fetched = check_.Fetch();
    const bool trusted = fetched && check_.Trust(&descriptor_);
    ReportChecked(trusted, fetched);
    if (!trusted) return run_.CloseLauncher(kVersionFailed);
    step = StepAfterRecheck(step, SameRelease(before, Facts()));
  }
  if (!commit_.FinishInterrupted()) {
    WriteLog("Failed to install game\n");
    return run_.CloseLauncher(kInstallFailed);
  }
  if (run_.Stopping()) return run_.CloseLauncher(nullptr);
  Finish(step);
}

void UpdateRun::Finish(ClickStep step) {
  // Before the game's update, so that a run that fails later still leaves
  // the new launcher for the next start.
  if (UpdateLauncherFiles() == LauncherUpdateResult::Stopped || run_.Stopping()) return run_.CloseLauncher(nullptr);
  if (!run_.PrepareGame()) return;  // the one ending that leaves the launcher open
  if (run_.Paths().installRecord[0] == '\0') {
    WriteLog("Failed to install game\n");
    return run_.CloseLauncher(kInstallFailed);
  }

  UpdateState& state = run_.State();
  state.installedKnown = true;
  state.installed = commit_.InstalledVersion();
  bool archiveJustInstalled = false;
  if (step == ClickStep::Commit) {
    if (!Commit(backgroundFetch_)) return;
    archiveJustInstalled = true;
  } else if (NeedsUpdate(state.installed, descriptor_.version)) {
    if (!Update()) return;
    archiveJustInstalled = true;
  } else {
    run_.ReportStage(UpdateStage::Current);
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
  UpdateState& state = run_.State();
  state.fetchLive = true;
  run_.ReportStage(UpdateStage::Fetching);
  const FetchOutcome fetched = fetch_.FetchUpdate();
  state.fetchLive = false;
  if (fetched != FetchOutcome::ByManifest && fetched != FetchOutcome::WholeArchive) {
    EndFailedFetch(fetched);
    return false;
  }
  state.fetch = run_.CountedBytes();
  run_.ReportStage(UpdateStage::Ready);
  return Commit(fetched);
}

bool UpdateRun::Commit(FetchOutcome fetched) {
  switch (commit_.CommitFetched(fetch_, fetched, descriptor_.version)) {
    case CommitOutcome::Installed:
      run_.State().installed = descriptor_.version;
      run_.ReportStage(UpdateStage::Current);
      return true;
    case CommitOutcome::NoSpace:
      run_.ReportStage(UpdateStage::Failed);
      run_.CloseLauncher(kNoSpace);
      return false;
    case CommitOutcome::Failed:
    case CommitOutcome::Stopped:
      run_.ReportStage(UpdateStage::Failed);
      run_.CloseLauncher(kInstallFailed);
      return false;
  }
  return false;
}

void UpdateRun::EndFailedFetch(FetchOutcome fetched) {
  run_.ReportStage(UpdateStage::Failed);
  switch (fetched) {
    case FetchOutcome::ByManifest:
    case FetchOutcome::WholeArchive:
      return;
    case FetchOutcome::NoSpace:
      return run_.CloseLauncher(kNoSpace);
    case FetchOutcome::ManifestFailed:
      if (!run_.Stopping()) WriteLog("Failed to install game\n");
      return run_.CloseLauncher(kInstallFailed);
    case FetchOutcome::ArchiveFailed:
      return run_.CloseLauncher(run_.DiskFull() ? kNoSpace : kArchiveFailed);
    case FetchOutcome::Stopped:
      return run_.CloseLauncher(nullptr);
  }
}

// A descriptor that could not be fetched from any host leaves the run
// offline; one refused (or keys that are not keys) leaves it failed.
void UpdateRun::ReportChecked(bool trusted, bool fetched) {
  if (run_.Stopping()) return;
  UpdateState& state = run_.State();
  if (!trusted) return run_.ReportStage(fetched ? UpdateStage::Failed : UpdateStage::Offline);
  state.availableKnown = true;
  state.available = descriptor_.version;
  run_.PublishState();
}

ReleaseFacts UpdateRun::Facts() const {
  ReleaseFacts facts;
  facts.version = descriptor_.version;
  facts.archive = descriptor_.archive;
  facts.manifestNamed = descriptor_.manifest.Named();
  facts.manifest = descriptor_.manifest.content;
  return facts;
}

}  // namespace update
