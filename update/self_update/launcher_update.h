// The launcher's own update, one step of a run: right after the descriptor
// is trusted and before the game is updated. When a signed descriptor offers
// a newer launcher than install.cfg records (and not one refused before),
// its package is fetched into Temp\Launcher, checked, unpacked and
// self-tested, and its files are swapped in for the next start. A package
// that fails a check is refused for good (LauncherRefused); a swap that
// cannot go through is undone. Whatever happens here, the run goes on with
// the running launcher to update and start the game.
#pragma once

#include <windows.h>

#include <cstdint>

#include "update/self_update/launcher_package.h"
#include "update/self_update/launcher_swap.h"

namespace update {

struct LauncherUpdateSetup {
  const char* launcherPath = nullptr;    // the running executable: its file is the one replaced
  const char* tempDirectory = nullptr;   // <current>\Temp
  const char* installRecord = nullptr;   // <current>\install.cfg
  const char* versionFile = nullptr;     // the fetched version.cfg
  bool descriptorSigned = false;         // its signature verified under a configured key
  PackageTransfer transfer;
  SwapTiming swap;
  DWORD selfTestTimeoutMs = 15000;
};

enum class LauncherUpdateResult {
  Unchanged,  // nothing offered, nothing due, refused, skipped or undone (logged)
  Swapped,    // the next start runs the new launcher
  Stopped,    // the stop request came during the package's transfer
};

LauncherUpdateResult UpdateLauncher(const LauncherUpdateSetup& setup);

}  // namespace update
