#include "update/install/staging.h"

#include <windows.h>

#include <string>

#include "base/bounded_format.h"
#include "base/progress_targets.h"
#include "base/file_tree.h"
#include "update/install/archive_reader.h"
#include "update/download_log.h"
#include "update/install/entry_name.h"
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

StageResult Stage(ArchiveReader& archive, const char* gameDirectory, const char* stagingDirectory, JournalRecord* plan,
                  progress::ProgressTargets* progress, const std::set<std::string>* selection) {
  std::uint64_t fileBytes = 0;
  if (!archive.CheckNames(gameDirectory, &fileBytes, selection)) return StageResult::Failed;

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
      if (!base::FormatInto(staged, sizeof staged, "%s\\%s", stagingDirectory, StagedFileName(planned.staged).c_str()))
        return false;
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
