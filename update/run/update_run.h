// One run of the update worker: its phases in order. Recovery of an
// interrupted commit; the check (update/run/version_check.h); the
// launcher's own update; the fetch of what a newer version needs
// (update/run/update_fetch.h); its commit (update/run/update_commit.h); a
// repair when asked (update/run/client_repair.h); the game's start
// (update/run/game_start.h). Every ending but one asks the main window to
// close, after a box when the player must act.
//
// A run that begins while the page shows does the check and the fetch
// first, in the background: at the background cap, with the progress window
// hidden and no box (a failure is logged, and the click tries again). The
// click then joins it: the fetch goes on where it is, with the cap lifted,
// and the run continues with the commit and the game as above, on the same
// phases (update/run/hand_over.h has the rules).
#pragma once

#include "update/run/client_repair.h"
#include "update/run/hand_over.h"
#include "update/run/run_shared.h"
#include "update/run/update_commit.h"
#include "update/run/update_fetch.h"
#include "update/run/version_check.h"
#include "update/self_update/launcher_update.h"
#include "update/update_worker.h"

namespace update {

class UpdateRun {
 public:
  // `handOver` is null for a run that begins with the click.
  UpdateRun(const WorkerSetup& setup, const GameParameters& parameters, HandOver* handOver);
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  // A stop request (the player's cancel, the launcher's exit) is looked at
  // between the steps, and inside the transfers and the staging; a commit
  // that has begun, the interrupted one included, is finished first.
  void Execute();
  // The background's check and fetch, the wait for the click, then the rest.
  void ExecuteFromPageView();

 private:
  BackgroundResult Background();
  void FetchNextAhead();
  void AfterClick(BackgroundResult reached);
  // From the checked descriptor on: the launcher's update, the update when
  // due (or the commit of what the background fetched), repair, the game.
  void Finish(ClickStep step);
  LauncherUpdateResult UpdateLauncherFiles();
  // Fetches and commits the live version. False when the launcher was closed.
  bool Update();
  // Commits what the fetch brought. False when the launcher was closed.
  bool Commit(FetchOutcome fetched);
  // The ending of a fetch that did not bring the update: its box.
  void EndFailedFetch(FetchOutcome fetched);
  void ReportChecked(bool trusted, bool fetched);
  ReleaseFacts Facts() const;

  RunShared run_;
  const GameParameters& parameters_;
  HandOver* handOver_;
  VersionCheck check_;
  TrustedDescriptor descriptor_;
  UpdateFetch fetch_;
  UpdateCommit commit_;
  FetchOutcome backgroundFetch_ = FetchOutcome::Stopped;
  bool clickSawFetchFail_ = false;  // the click came while a background fetch failed: its box is due
};

}  // namespace update
