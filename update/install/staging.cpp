#include "update/install/staging.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/bounded_format.h"
#include "base/progress_targets.h"
#include "base/file_tree.h"
#include "update/install/archive_reader.h"
#include "update/download_log.h"
#include "update/install/entry_name.h"
#include "update/install/folder_moves.h"
#include "update/transfer_rules.h"

namespace update {

namespace {

// The free space of the staging folder's volume, for this user's quota.
bool FreeBytes(const char* directory, std::uint64_t* free) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr)) return false;
  *free = available.QuadPart;
  return true;
}

// Something is at `name` below Game, or that cannot be told (a folder moved
// whole must not meet anything there).
bool ExistsInGame(const char* gameDirectory, const std::string& name) {
  char path[kPathSize];
  if (!ComposeEntryTarget(path, gameDirectory, name.c_str())) return true;
  if (::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = ::GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

StageResult Stage(ArchiveReader& archive, const char* gameDirectory, const char* stagingDirectory, JournalRecord* plan,
                  progress::ProgressTargets* progress, const std::set<std::string>* selection) {
  std::uint64_t fileBytes = 0;
  std::vector<FolderMoveEntry> names;
  if (!archive.CheckNames(gameDirectory, &fileBytes, selection, [&names](const ArchiveEntry& entry) {
        names.push_back({entry.name, IsDirectoryEntry(entry.name, entry.attributes)});
      }))
    return StageResult::Failed;
  // Below the staging folder, a moved folder's entries are named "tree\NAME".
  const std::size_t treeRoom = std::strlen(stagingDirectory) + 1 + StagedTreeName("").size();
  StagingLayout layout(PlanFolderMoves(names, treeRoom < kPathSize ? kPathSize - 1 - treeRoom : 0,
                                       [gameDirectory](const std::string& folder) {
                                         return ExistsInGame(gameDirectory, folder);
                                       }));

  std::uint64_t free = 0;
  const std::uint64_t needed = AddBytes(fileBytes, kStagingMargin);
  if (FreeBytes(stagingDirectory, &free) && free < needed) {
    WriteLog("Not enough disk space: %llu bytes needed, %llu free\n", static_cast<unsigned long long>(needed),
             static_cast<unsigned long long>(free));
    return StageResult::NoSpace;
  }

  DirectoryCache directories;
  char staged[kPathSize];
  bool stopped = false;
  const bool walked = archive.VisitEntries(progress, [&](std::uint64_t i, const ArchiveEntry& entry) {
    // Between two entries is a safe point: nothing of Game has been touched.
    if (progress != nullptr && progress->stop.Requested()) {
      stopped = true;
      return false;
    }
    if (selection != nullptr && (!entry.nameUsable || selection->count(entry.name) == 0)) return true;
    JournalEntry planned;
    planned.name = entry.name;
    if (IsDirectoryEntry(entry.name, entry.attributes)) {
      planned.kind = JournalEntryKind::Directory;
    } else {
      planned.staged = static_cast<std::uint32_t>(i);
      planned.size = entry.size;
    }
    const std::string place = layout.Place(&planned, &plan->entries);
    if (!place.empty() && !base::FormatInto(staged, sizeof staged, "%s\\%s", stagingDirectory, place.c_str()))
      return false;
    if (planned.kind == JournalEntryKind::TreeDirectory) {
      // Moved in with its folder: it has to be there when the folder goes.
      if (!CreateDirectoryTree(staged, LastLevel::Directory, &directories)) {
        WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", staged, static_cast<int>(::GetLastError()));
        return false;
      }
    } else if (planned.kind != JournalEntryKind::Directory) {
      if (archive.ExtractCurrent(entry, staged, &directories) != ExtractResult::Extracted) return false;
    }
    plan->entries.push_back(std::move(planned));
    return true;
  });
  if (stopped) return StageResult::Stopped;
  return walked ? StageResult::Staged : StageResult::Failed;
}

}  // namespace

void RemoveStagingFolder(const char* stagingDirectory) {
  if (stagingDirectory == nullptr || stagingDirectory[0] == '\0') return;
  if (::GetFileAttributesA(stagingDirectory) == INVALID_FILE_ATTRIBUTES) return;
  base::RemoveTree(stagingDirectory);
}

StageResult StageArchive(const char* archivePath, const char* gameDirectory, const char* stagingDirectory,
                         JournalRecord* plan, progress::ProgressTargets* progress,
                         const std::set<std::string>* selection) {
  plan->entries.clear();
  RemoveStagingFolder(stagingDirectory);
  ArchiveReader archive(archivePath);
  if (archive.OpenState() == ArchiveReader::State::Empty) return StageResult::Staged;
  if (archive.OpenState() == ArchiveReader::State::Failed) return StageResult::Failed;
  if (archive.Count() > 0xFFFFFFFFu) return StageResult::Failed;
  if (!::CreateDirectoryA(stagingDirectory, nullptr)) {
    WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", stagingDirectory, static_cast<int>(::GetLastError()));
    return StageResult::Failed;
  }
  const StageResult result = Stage(archive, gameDirectory, stagingDirectory, plan, progress, selection);
  if (result != StageResult::Staged) {
    RemoveStagingFolder(stagingDirectory);
    plan->entries.clear();
  }
  return result;
}

}  // namespace update
