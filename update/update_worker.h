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

#include "update/self_update/launcher_swap.h"
#include "update/transfer/http_download.h"

namespace progress { struct ProgressTargets; }

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

// One whole run of the worker on the calling thread. Always returns 0.
unsigned RunUpdate(const WorkerSetup& setup, const GameParameters& parameters);

// The launcher's one worker: ConfigureUpdateWorker during start-up, then
// StartUpdateWorker from the GUI thread on every IntoGame or Repair. The
// first call starts the worker thread; every call replaces the parameter
// string, and a Repair asks the worker to verify the client.
void ConfigureUpdateWorker(const WorkerSetup& setup);
void StartUpdateWorker(const char* parameters, GameEntry entry = GameEntry::Play);

// Asks the process's worker to stop at its next safe point (the player's
// cancel, and the launcher's exit). A stopped worker logs "Cancelled", shows
// no box, starts no game and posts WM_DESTROY. True when a worker is still
// running and will close the launcher itself; false when none runs (never
// started, or already ended), and the caller closes.
bool RequestUpdateWorkerStop();

// Waits up to `timeoutMs` for the process's worker to end. True when it has
// ended or was never started; used at exit, after RequestUpdateWorkerStop,
// before what the worker writes to (the progress targets) is freed.
bool WaitForUpdateWorker(DWORD timeoutMs);

}  // namespace update
