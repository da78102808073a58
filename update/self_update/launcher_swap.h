// The swap of the launcher's files, carried out: the journal written and
// flushed before the first rename, the renames of launcher_swap_plan.h one by
// one, a rename refused because another process holds the file (antivirus,
// an indexer) tried again with backoff, the way back when it stays refused,
// and the version recorded last. The same code finishes a swap that a kill
// interrupted, at the next start, before anything reads Data.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "update/self_update/launcher_swap_plan.h"

namespace update {

struct SwapPlaces {
  std::string journal;        // Temp\launcher.journal
  std::string installRecord;  // install.cfg: LauncherVersion
};

struct SwapTiming {
  DWORD heldBudgetMs = 10000;  // how long a held file is tried again before the swap is undone
  DWORD firstDelayMs = 50;     // doubled after each refusal, up to a second
};

// Called once the journal is written (0) and after each rename, with the
// number of renames done so far (tests end the process there, as a kill would).
using SwapStepObserver = std::function<void(std::size_t renamesDone)>;

enum class SwapOutcome {
  Swapped,  // every new file in place and the version recorded
  Undone,   // the old files are back in place; `cause` says why
  Stuck,    // not even the way back went through: the journal stays for the next start
};

struct SwapReport {
  SwapOutcome outcome = SwapOutcome::Stuck;
  std::string cause;  // for Undone and Stuck
};

// Journals `record`, then moves every file forward. Logs nothing.
SwapReport SwapLauncher(const SwapRecord& record, const SwapPlaces& places, const SwapTiming& timing,
                        const SwapStepObserver& observer = nullptr);

// At every start, before Data is read: a journal left by an interrupted swap
// is finished (or, when a file stays held, undone) and removed. Logs what it
// did. Does nothing when there is no journal.
void RecoverLauncherSwap(const SwapPlaces& places, const SwapTiming& timing = SwapTiming{});

// The places of the current directory's launcher: Temp\launcher.journal and
// install.cfg. False when they do not fit.
bool CurrentSwapPlaces(SwapPlaces* places);

}  // namespace update
