// Staged installation, second half: the commit of a staged client into Game,
// and its recovery. The journal (update/install/commit_journal.h) is written as a
// temporary file, flushed and renamed into place before the first move; then
// every staged file is moved over its target with one rename on the same
// volume, so that each file in Game is old or new, never cut; a folder that
// Game did not have goes in with one rename of the whole staged folder. The version is
// recorded by the caller, which then ends the commit (journal first, then the
// staging folder). A journal found at the next start means the commit was
// interrupted: RecoverCommit finishes it, or discards it when the journal or
// the staging folder is damaged, and never reports a version it did not
// bring wholly into Game.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "update/install/commit_journal.h"

namespace progress { struct ProgressTargets; }

namespace update {

struct CommitPlace {
  const char* gameDirectory = nullptr;     // Game
  const char* stagingDirectory = nullptr;  // Temp\Staging
  const char* journalPath = nullptr;       // Temp\commit.journal
};

// Written as "<path>.tmp", flushed and renamed over `path`. False (and no
// journal) when any step fails.
bool WriteJournalFile(const char* path, const JournalRecord& record);

enum class CommitResult {
  Applied,  // every staged file is in Game
  Blocked,  // a target could not be replaced or removed: "Failed to replace PATH" or "Failed to remove PATH" is logged
  Damaged,  // a staged file is missing or of the wrong size and its target is not the new file
};

// Makes the directories and moves every staged file of `record` into Game,
// passing over files moved before, and every moved folder with one rename
// (when that rename cannot be made, its entries go one by one); then removes the files the version
// dropped ("Removed NAME" for each) and the dropped directories left empty. With `checkFirst`, every file is looked at
// before the first move, so that a damaged staging folder moves nothing.
// `moved` (when not null) counts the files that are in Game when it returns.
CommitResult ApplyCommit(const CommitPlace& place, const JournalRecord& record, bool checkFirst,
                         std::uint64_t* moved = nullptr);

// Removes the journal, then the staging folder.
void EndCommit(const CommitPlace& place);

// Stopped: a stop request came while the archive was staged; Game is
// unchanged and nothing of the attempt is left. Once the journal is written
// the commit runs to its end whatever is asked meanwhile, so that Game is
// never part old, part new.
enum class InstallResult { Installed, Failed, NoSpace, Blocked, Stopped };

// Stages `archivePath`, writes the journal for `version` and applies the
// commit. On Installed the caller records `version` and calls EndCommit; on
// Blocked the journal stays for the next start; otherwise Game is unchanged
// and nothing of the attempt is left. With `selection`, only the entries it
// names are staged and committed (see StageArchive); `committed` (when not
// null) counts the files brought into Game.
// `removals` (when not null) join the journal after the staged entries: the
// files and directories the new version dropped.
InstallResult InstallUpdate(const CommitPlace& place, const char* archivePath, std::int32_t version,
                            progress::ProgressTargets* progress = nullptr,
                            const std::set<std::string>* selection = nullptr, std::uint64_t* committed = nullptr,
                            const std::vector<JournalEntry>* removals = nullptr);

enum class RecoveryResult {
  NoCommit,   // no journal: nothing was interrupted (a stale staging folder is removed)
  Finished,   // the interrupted commit is applied; the caller records the version and ends it
  Discarded,  // journal or staging damaged: both removed, nothing recorded, logged
  Blocked,    // a target could not be replaced; the journal stays
};

RecoveryResult RecoverCommit(const CommitPlace& place, std::int32_t* version);

}  // namespace update
