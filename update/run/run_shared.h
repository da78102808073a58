// What every phase of one update run shares: the worker's setup, the run's
// paths under the current directory, its transfer limits (with the proxy
// settings read once a run), the progress targets the phases report to and
// take the stop request from, and the launcher's one way to end a run (a box
// when the player must act, then WM_DESTROY to the main window).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "update/incremental/manifest_update.h"
#include "update/install/commit.h"
#include "update/run/update_state.h"
#include "update/transfer/body_checks.h"
#include "update/transfer/line_meter.h"
#include "update/transfer/system_proxy.h"
#include "update/transfer/transfer_limits.h"
#include "update/directory_levels.h"
#include "update/update_paths.h"
#include "update/update_worker.h"

namespace update {

// A path for the log line of a composition that did not fit: as much as fits.
struct CutPath {
  CutPath(const char* directory, const char* name);
  char text[kPathSize];
};

// The run's paths: Temp and what lies in it, Game and the install records.
// Each is composed once; an empty one did not fit.
struct RunPaths {
  char current[kPathSize] = {};
  char temp[kPathSize] = {};
  char versionFile[kPathSize] = {};
  char signatureFile[kPathSize] = {};
  char game[kPathSize] = {};
  char installRecord[kPathSize] = {};
  char installedManifest[kPathSize] = {};
  char staging[kPathSize] = {};
  char journal[kPathSize] = {};
  bool commitPathsFit = false;  // Game, Temp\Staging, Temp\commit.journal (+".tmp") and install.cfg

  CommitPlace Place() const;
  // An update by manifest against Game and the install records, its pieces
  // fetched below `tempDirectory`; the manifest, archive and URLs still to set.
  ManifestUpdateSetup ManifestSetup(const char* tempDirectory) const;
};

// The manifest's URL with its query: its digest when the descriptor names
// one, else the tick count. False when it does not fit.
bool ComposeManifestUrl(char* out, std::size_t size, const ManifestExpectation& manifest);

// The bytes `targets` count right now ({0, 0} when they count none).
ByteCount CountedBytes(const progress::ProgressTargets& targets);

class RunShared {
 public:
  // With `handOver` (a run that began while the page showed) every transfer
  // follows its receive cap.
  RunShared(const WorkerSetup& setup, const HandOver* handOver);
  RunShared(const RunShared&) = delete;  // limits_ points at proxy_ and line_
  RunShared& operator=(const RunShared&) = delete;

  const WorkerSetup& Setup() const { return setup_; }
  RunPaths& Paths() { return paths_; }
  const RunPaths& Paths() const { return paths_; }
  const ProxyConfig& Proxy() const { return proxy_; }
  const TransferLimits& Limits() const { return limits_; }
  progress::ProgressTargets* Progress() const { return setup_.progress; }

  // The current directory, and Temp in it (made when missing). False, logged,
  // when either does not fit or Temp cannot be made.
  bool PrepareTemp();
  // The paths the commit and its recovery use, composed before the version
  // check; a commit never began when they do not fit.
  bool ComposeCommitPaths();
  // Game, made when missing. False, logged, when it cannot be.
  bool PrepareGame();

  // Fetches `url` into Temp\<name>, leaving the local path in `localFile`. A
  // path that does not fit fails the transfer. A write that found its volume
  // full sets DiskFull().
  bool FetchIntoTemp(const char* url, const char* name, char* localFile, std::size_t localFileSize,
                     BodyCheck* check);
  bool DiskFull() const { return diskFull_; }
  bool* DiskFullFlag() { return &diskFull_; }

  bool Stopping() const;
  // Stage S at P %: the lower bar never goes back, and the stage line's
  // count starts again; the GUI thread repaints the window (an invalidation,
  // never a wait on that thread).
  void ShowStage(std::int32_t stage, std::int32_t percent) const;
  void StoreUpper(std::int32_t percent) const;

  // How the run stands, for the page: changed here and published to the
  // setup's board (when there is one).
  UpdateState& State() { return state_; }
  void PublishState() const;
  void ReportStage(UpdateStage stage);
  // The bytes the progress targets count right now ({0, 0} when they count none).
  ByteCount CountedBytes() const;

  // Shows `message` (when not null) and asks the main window to close. After
  // a stop request the ending is the player's cancel (or the exit), whatever
  // step it ended: no box, "Cancelled" in the log.
  void CloseLauncher(const char* message) const;
  void AskMainWindowToClose() const;

 private:
  const WorkerSetup& setup_;
  ProxyConfig proxy_;
  LineMeter line_;         // what the run's transfers saw of the line
  TransferLimits limits_;  // the setup's, with the run's proxy settings and line
  RunPaths paths_;
  bool diskFull_ = false;  // an archive's transfer found its volume full
  UpdateState state_;
};

}  // namespace update
