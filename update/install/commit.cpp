#include "update/install/commit.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "base/bounded_format.h"
#include "base/durable_file.h"
#include "base/file_size.h"
#include "base/guards.h"
#include "update/install/archive_reader.h"
#include "update/install/directory_tree.h"
#include "update/download_log.h"
#include "update/install/staging.h"

namespace update {

namespace {

constexpr std::uint64_t kJournalSizeLimit = std::uint64_t{64} << 20;

bool ComposeTemporary(char (&out)[kPathSize], const char* journalPath) {
  return base::FormatInto(out, sizeof out, "%s.tmp", journalPath);
}

// Where an entry of the journal is staged: a File under its number, an entry
// of a moved folder (and the folder itself) under its name in the tree.
bool ComposeStaged(char (&out)[kPathSize], const char* stagingDirectory, const JournalEntry& entry) {
  const std::string name = entry.kind == JournalEntryKind::File ? StagedFileName(entry.staged) : StagedTreeName(entry.name);
  return base::FormatInto(out, sizeof out, "%s\\%s", stagingDirectory, name.c_str());
}

bool IsDirectory(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool HasSize(const char* path, std::uint64_t expected) {
  std::uint64_t size = 0;
  return base::FileSize(path, &size) && size == expected;
}

enum class JournalLoad { None, Loaded, Damaged };

JournalLoad LoadJournalFile(const char* path, JournalRecord* record) {
  std::uint64_t size = 0;
  if (!base::FileSize(path, &size)) {
    return ::GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES ? JournalLoad::None : JournalLoad::Damaged;
  }
  if (size > kJournalSizeLimit) return JournalLoad::Damaged;
  base::UniqueFile file(std::fopen(path, "rb"));
  if (!file) return JournalLoad::Damaged;
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (size != 0 && std::fread(&bytes[0], 1, bytes.size(), file.Get()) != bytes.size()) return JournalLoad::Damaged;
  return ParseJournal(bytes.data(), bytes.size(), record) == JournalParse::Valid ? JournalLoad::Loaded
                                                                                  : JournalLoad::Damaged;
}

// Looks at every file before anything moves: either still staged with its
// size, or already moved (its target has that size). A file of a moved
// folder is looked at in the same way, in the staged folder or in Game, so
// that a folder moved before counts as done and a staged folder that lost a
// file or was cut as damaged; a moved folder itself is still staged or
// already in Game. Logs the first that is neither.
bool StagingIsWhole(const CommitPlace& place, const JournalRecord& record) {
  char staged[kPathSize];
  char target[kPathSize];
  for (const JournalEntry& entry : record.entries) {
    const bool file = entry.kind == JournalEntryKind::File || entry.kind == JournalEntryKind::TreeFile;
    if (!file && entry.kind != JournalEntryKind::Tree) continue;
    if (!ComposeStaged(staged, place.stagingDirectory, entry) ||
        !ComposeEntryTarget(target, place.gameDirectory, entry.name.c_str()))
      return false;
    const bool whole = file ? (HasSize(staged, entry.size) ||
                               (::GetFileAttributesA(staged) == INVALID_FILE_ATTRIBUTES && HasSize(target, entry.size)))
                            : (IsDirectory(staged) || IsDirectory(target));
    if (!whole) {
      WriteLog("Discarded commit of version %d: staged file for %s is missing or damaged\n",
               static_cast<int>(record.version), entry.name.c_str());
      return false;
    }
  }
  return true;
}

// Removes a file the new version dropped. One that is gone already (removed
// by an earlier attempt, or by the player) is fine; one that stays (held
// open) blocks the commit like a file that cannot be replaced.
bool RemoveDroppedFile(const char* target, const std::string& name) {
  const DWORD attributes = ::GetFileAttributesA(target);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) ::SetFileAttributesA(target, attributes & ~FILE_ATTRIBUTE_READONLY);
  if (::DeleteFileA(target)) {
    WriteLog("Removed %s\n", name.c_str());
    return true;
  }
  WriteLog("Failed to remove %s, GetLastError=%d\n", target, static_cast<int>(::GetLastError()));
  return false;
}

void DiscardCommit(const CommitPlace& place) {
  char temporary[kPathSize];
  if (ComposeTemporary(temporary, place.journalPath)) ::DeleteFileA(temporary);
  EndCommit(place);
}

}  // namespace

bool WriteJournalFile(const char* path, const JournalRecord& record) {
  std::string bytes;
  return FormatJournal(record, &bytes) && base::WriteFileDurably(path, bytes);
}

CommitResult ApplyCommit(const CommitPlace& place, const JournalRecord& record, bool checkFirst,
                         std::uint64_t* moved) {
  std::uint64_t inPlace = 0;
  if (moved == nullptr) moved = &inPlace;
  *moved = 0;
  if (checkFirst && !StagingIsWhole(place, record)) return CommitResult::Damaged;
  // Which entries each moved folder holds, and which folders went in whole.
  const std::vector<std::size_t> holders = HoldingTrees(record);
  std::vector<std::uint64_t> filesIn(record.entries.size(), 0);
  for (std::size_t i = 0; i < record.entries.size(); ++i)
    if (record.entries[i].kind == JournalEntryKind::TreeFile && holders[i] != kNoTree) ++filesIn[holders[i]];
  std::vector<bool> movedWhole(record.entries.size(), false);
  DirectoryCache directories;
  char staged[kPathSize];
  char target[kPathSize];
  for (std::size_t i = 0; i < record.entries.size(); ++i) {
    const JournalEntry& entry = record.entries[i];
    if (!ComposeEntryTarget(target, place.gameDirectory, entry.name.c_str())) return CommitResult::Damaged;
    if (entry.kind == JournalEntryKind::Tree) {
      // One rename brings the whole folder in. When it cannot (the folder
      // went in before this attempt, something took its place in Game
      // meanwhile, or a level above it is a file), nothing is logged: its
      // entries then go one by one, as entries outside moved folders do, and
      // meet what they meet.
      if (!ComposeStaged(staged, place.stagingDirectory, entry)) return CommitResult::Damaged;
      if (CreateDirectoryTree(target, LastLevel::FileName, &directories) && ::MoveFileExA(staged, target, 0)) {
        movedWhole[i] = true;
        *moved += filesIn[i];
      }
      continue;
    }
    // An entry of a folder that went in whole is in Game with it (its files
    // are counted with the folder).
    if (holders[i] != kNoTree && movedWhole[holders[i]]) continue;
    if (entry.kind == JournalEntryKind::Directory || entry.kind == JournalEntryKind::TreeDirectory) {
      if (!CreateDirectoryTree(target, LastLevel::Directory, &directories))
        WriteLog("Failed to CreateDirectory(%s/%s)\n", place.gameDirectory, entry.name.c_str());
      continue;
    }
    if (entry.kind == JournalEntryKind::RemovedFile) {
      if (!RemoveDroppedFile(target, entry.name)) return CommitResult::Blocked;
      continue;
    }
    if (entry.kind == JournalEntryKind::RemovedDirectory) {
      // Only an empty directory goes: what a player keeps in it stays, and so does it.
      ::RemoveDirectoryA(target);
      continue;
    }
    if (!ComposeStaged(staged, place.stagingDirectory, entry)) return CommitResult::Damaged;
    if (!CreateDirectoryTree(target, LastLevel::FileName, &directories)) {
      WriteLog("Failed to replace %s, GetLastError=%d\n", target, static_cast<int>(::GetLastError()));
      return CommitResult::Blocked;
    }
    if (::MoveFileExA(staged, target, MOVEFILE_REPLACE_EXISTING)) {
      ++*moved;
      continue;
    }
    const DWORD error = ::GetLastError();
    if (::GetFileAttributesA(staged) == INVALID_FILE_ATTRIBUTES) {
      // Moved by an earlier attempt, or lost: only the first is fine.
      if (HasSize(target, entry.size)) {
        ++*moved;
        continue;
      }
      WriteLog("Discarded commit of version %d: staged file for %s is missing or damaged\n",
               static_cast<int>(record.version), entry.name.c_str());
      return CommitResult::Damaged;
    }
    WriteLog("Failed to replace %s, GetLastError=%d\n", target, static_cast<int>(error));
    return CommitResult::Blocked;
  }
  return CommitResult::Applied;
}

void EndCommit(const CommitPlace& place) {
  ::DeleteFileA(place.journalPath);
  RemoveStagingFolder(place.stagingDirectory);
}

InstallResult InstallUpdate(const CommitPlace& place, const char* archivePath, std::int32_t version,
                            progress::ProgressTargets* progress, const std::set<std::string>* selection,
                            std::uint64_t* committed, const std::vector<JournalEntry>* removals) {
  if (committed != nullptr) *committed = 0;
  JournalRecord plan;
  plan.version = version;
  switch (StageArchive(archivePath, place.gameDirectory, place.stagingDirectory, &plan, progress, selection)) {
    case StageResult::Staged: break;
    case StageResult::NoSpace: return InstallResult::NoSpace;
    case StageResult::Failed: return InstallResult::Failed;
    case StageResult::Stopped: return InstallResult::Stopped;
  }
  if (removals != nullptr) plan.entries.insert(plan.entries.end(), removals->begin(), removals->end());
  if (!WriteJournalFile(place.journalPath, plan)) {
    WriteLog("Failed to write %s\n", place.journalPath);
    RemoveStagingFolder(place.stagingDirectory);
    return InstallResult::Failed;
  }
  switch (ApplyCommit(place, plan, /*checkFirst=*/false, committed)) {
    case CommitResult::Applied: return InstallResult::Installed;
    case CommitResult::Blocked: return InstallResult::Blocked;
    case CommitResult::Damaged: break;
  }
  DiscardCommit(place);
  return InstallResult::Failed;
}

RecoveryResult RecoverCommit(const CommitPlace& place, std::int32_t* version) {
  JournalRecord record;
  switch (LoadJournalFile(place.journalPath, &record)) {
    case JournalLoad::None:
      DiscardCommit(place);  // a staging folder or temporary journal of an attempt that never began its commit
      return RecoveryResult::NoCommit;
    case JournalLoad::Damaged:
      WriteLog("Discarded damaged commit journal %s\n", place.journalPath);
      DiscardCommit(place);
      return RecoveryResult::Discarded;
    case JournalLoad::Loaded: break;
  }
  switch (ApplyCommit(place, record, /*checkFirst=*/true)) {
    case CommitResult::Applied:
      WriteLog("Finished interrupted commit of version %d\n", static_cast<int>(record.version));
      *version = record.version;
      return RecoveryResult::Finished;
    case CommitResult::Blocked: return RecoveryResult::Blocked;
    case CommitResult::Damaged: break;
  }
  DiscardCommit(place);
  return RecoveryResult::Discarded;
}

}  // namespace update
