// One run of the update worker: its phases in order. Recovery of an
// interrupted commit; the check (update/run/version_check.h); the
// launcher's own update; the fetch of what a newer version needs
// (update/run/update_fetch.h); its commit (update/run/update_commit.h); a
// repair when asked (update/run/client_repair.h); the game's start
// (update/run/game_start.h). Every ending but one asks the main window to
// close, after a box when the player must act.
#pragma once

#include "update/run/client_repair.h"
#include "update/run/version_check.h"
#include "update/run/run_shared.h"
#include "update/run/update_commit.h"
#include "update/run/update_fetch.h"
#include "update/self_update/launcher_update.h"
#include "update/update_worker.h"

namespace update {

class UpdateRun {
 public:
  UpdateRun(const WorkerSetup& setup, const GameParameters& parameters);
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;

  // A stop request (the player's cancel, the launcher's exit) is looked at
  // between the steps, and inside the transfers and the staging; a commit
  // that has begun, the interrupted one included, is finished first.
  void Execute();

 private:
  LauncherUpdateResult UpdateLauncherFiles();
  // Fetches and commits the live version. False when the launcher was closed.
  bool Update();

  RunShared run_;
  const GameParameters& parameters_;
  VersionCheck check_;
  TrustedDescriptor descriptor_;
  UpdateFetch fetch_;
  UpdateCommit commit_;
};

}  // namespace update
