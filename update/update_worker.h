// The update worker: brings the client in Game up to the version the version
// server announces, starts the game with the page's parameters and asks the
// main window to close. It reaches the rest of the launcher only through the
// setup below: a window to post WM_DESTROY to, the VersionCDN URL and the
// operator's public keys, the progress targets and the progress window to
// repaint. With a key configured the descriptor must carry a valid signature
// and name the archive's digest, which the archive must then match.
// A repair adds a verification of the client against the installed archive,
// and mends what it finds damaged, before the game starts.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/run/update_state.h"
#include "update/self_update/launcher_swap.h"
#include "update/transfer/http_download.h"

namespace update {

struct WorkerSetup {
  HWND mainWindow = nullptr;                       // gets the posted WM_DESTROY
  const char* versionCdnUrl = nullptr;             // lives as long as the process
  const char* versionCdnUrl2 = nullptr;            // [VersionCDN] Url2 and Url3: mirrors of the descriptor
  const char* versionCdnUrl3 = nullptr;
  const char* proxy = nullptr;                     // [VersionCDN] Proxy: "none", "host:port", or null/empty
  const char* publicKey = nullptr;                 // [VersionCDN] PublicKey, may be null or empty
  const char* publicKey2 = nullptr;                // [VersionCDN] PublicKey2, for a key rollover
  progress::ProgressTargets* progress = nullptr;   // may be null; its stop request stops the worker
  HWND progressWindow = nullptr;                   // repainted at each stage; may be null
  TransferLimits limits{};
  RetryTiming retry{};
  bool repairOnEntry = false;  // repair=1 on the command line: entering the game repairs too
  // The running executable, whose file a new launcher replaces; null: the
  // launcher is never updated.
  const char* launcherPath = nullptr;
  SwapTiming swap{};
  // Where the run says how it stands, for the page's UpdateState(); may be null.
  UpdateStateBoard* state = nullptr;
  // A descriptor older than this when the page asks for the game is fetched again.
  std::uint32_t descriptorFreshMs = 10u * 60u * 1000u;
};

// The page's click as a worker that began while the page showed sees it:
// the background fetch runs with one receive cap, the click lifts it (to
// [Download] MaxKBps) under the running transfers, ends a fetch ahead of
// the next version, and lets the worker go on to the commit and the game.
// Written by the GUI thread, read by the worker.
class HandOver {
 public:
  HandOver();
  HandOver(const HandOver&) = delete;
  HandOver& operator=(const HandOver&) = delete;

  // Before the worker starts: [Download] BackgroundKBps and MaxKBps, in
  // bytes a second (0: none). Until the click the lower of the two holds.
  void SetCaps(std::int64_t background, std::int64_t afterClick);
  // The page asked for the game.
  void Enter();
  bool Entered() const { return entered_.load(); }
  // The tick count of the click (after Entered).
  DWORD EnteredAt() const { return enteredAt_.load(); }
  // Waits for the click or for `stop`. True when the page asked for the game.
  bool WaitForEntry(const base::StopRequest& stop) const;

  // What the transfers follow (TransferLimits::liveReceiveCap).
  const std::atomic<std::int64_t>& ReceiveCap() const { return receiveCap_; }
  // The fetch ahead of the next version reports here, and stops at the click
  // or at the launcher's exit.
  progress::ProgressTargets& Ahead() { return ahead_; }

 private:
  std::atomic<bool> entered_{false};
  std::atomic<DWORD> enteredAt_{0};
  std::atomic<std::int64_t> receiveCap_{0};
  std::int64_t afterClick_ = 0;
  base::UniqueHandle enteredEvent_;
  progress::ProgressTargets ahead_;
};

// What the page asked for: enter the game, or repair the client and enter it.
enum class GameEntry : std::uint8_t { Play, Repair };

// The game's parameter string: written by the GUI thread on every IntoGame,
// read by the worker just before the game starts. The lock makes sure the
// worker never reads a string half-written.
class GameParameters {
 public:
  static constexpr std::size_t kSize = 65536;  // 65,535 bytes and the terminator

  GameParameters();
  void Store(const char* text);                      // longer text is cut
  void CopyTo(char* out, std::size_t size) const;    // size >= 1

  // Once asked for, a repair stays asked for: the worker reads it after the
  // update step, so a Repair that comes while the version is checked counts.
  void RequestRepair() { repair_.store(true); }
  bool RepairRequested() const { return repair_.load(); }

 private:
  std::atomic<bool> repair_{false};
  mutable std::mutex mutex_;
  std::unique_ptr<char[]> text_;
};

// One whole run of the worker on the calling thread, once the page has
// asked for the game. Always returns 0.
unsigned RunUpdate(const WorkerSetup& setup, const GameParameters& parameters);

// A run that begins while the page shows: the check and the fetch of what
// an update needs (at the background cap, with no box: a failure is logged
// and the click tries again), then a wait for `handOver`'s click, then the
// rest of the run as RunUpdate's, building on what was fetched. Always
// returns 0.
unsigned RunUpdateFromPageView(const WorkerSetup& setup, const GameParameters& parameters, HandOver& handOver);

// The launcher's one worker: ConfigureUpdateWorker during start-up, then
// StartUpdateWorker from the GUI thread on every IntoGame or Repair. The
// first call starts the worker thread (or, when StartBackgroundUpdate started
// it as the page showed, hands the click over to it); every call replaces
// the parameter string, and a Repair asks the worker to verify the client.
// `backgroundReceiveBytesPerSecond` is [Download] BackgroundKBps (0: none).
void ConfigureUpdateWorker(const WorkerSetup& setup, std::int64_t backgroundReceiveBytesPerSecond = 0);
void StartBackgroundUpdate();
void StartUpdateWorker(const char* parameters, GameEntry entry = GameEntry::Play);

// Asks the process's worker to stop at its next safe point (the player's
// cancel, and the launcher's exit). A stopped worker logs "Cancelled", shows
// no box, starts no game and posts WM_DESTROY. True when a worker is still
// running and will close the launcher itself; false when none runs (never
// started, or already ended), and the caller closes.
bool RequestUpdateWorkerStop();

// How the process's update stands, as window.external.UpdateState() returns
// it: the worker's state with the bytes its transfers count right now.
std::string UpdateStateText();

// Waits up to `timeoutMs` for the process's worker to end. True when it has
// ended or was never started; used at exit, after RequestUpdateWorkerStop,
// before what the worker writes to (the progress targets) is freed.
bool WaitForUpdateWorker(DWORD timeoutMs);

}  // namespace update
