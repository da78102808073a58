// Staged installation, first half: every entry of the client archive checked,
// the free space of the volume checked against what the files need, and every
// file extracted (with its size and CRC checks, on several threads) into a flat staging folder
// under Temp, on Game's volume, so that the commit (update/install/commit.h) moves
// each file into Game with one rename. Game is not touched here; any failure
// removes the staging folder.
#pragma once

#include <set>
#include <string>

#include "update/install/commit_journal.h"

namespace progress { struct ProgressTargets; }

namespace update {

enum class StageResult {
  Staged,
  Failed,   // the archive or an entry failed; its own line is logged
  NoSpace,  // "Not enough disk space: N bytes needed, M free" is logged
  Stopped,  // a stop request (progress->stop) came between two entries; nothing logged
};

// Stages `archivePath` for `gameDirectory` into `stagingDirectory` (made
// fresh) and fills `plan` with what the commit must do, in archive order.
// With `selection`, only the entries it names are checked, counted against
// the free space, staged and planned; the rest of the archive is passed over.
// The share of entries done goes to progress->upperTarget and the files done
// and in all to progress->count (when not null); a stop request is looked at
// before every entry. Files are extracted by `threads` threads, each with its
// own handle on the archive (0: DefaultStagingThreads()).
StageResult StageArchive(const char* archivePath, const char* gameDirectory, const char* stagingDirectory,
                         JournalRecord* plan, progress::ProgressTargets* progress = nullptr,
                         const std::set<std::string>* selection = nullptr, unsigned threads = 0);

// Removes the staging folder and everything in it; nothing when it is absent.
void RemoveStagingFolder(const char* stagingDirectory);

}  // namespace update
