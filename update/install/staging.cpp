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
#include "update/install/parallel_extract.h"
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

// The share of entries done goes to the upper bar and the stage line. An
// entry counts as done once it is walked and, for a file, extracted: the
// walk runs ahead of the extracting threads by the jobs they have queued.
class StagingProgress {
 public:
  StagingProgress(progress::ProgressTargets* progress, std::uint64_t count) : progress_(progress), count_(count) {}

  void Walked(std::uint64_t entries) {
    walked_ = entries;
    Show();
  }
  void Queued() { ++queued_; }
  void Extracted(std::uint64_t files) {
    extracted_ = files;
    Show();
  }

 private:
  void Show() const {
    if (progress_ == nullptr) return;
    const std::uint64_t waiting = queued_ - extracted_;
    const std::uint64_t done = walked_ > waiting ? walked_ - waiting : 0;
    progress_->upperTarget.store(InstallPercent(done, count_));
    progress_->count.Set(progress::CountUnit::Files, static_cast<std::int64_t>(done),
                         static_cast<std::int64_t>(count_));
  }

  progress::ProgressTargets* progress_;
  std::uint64_t count_;
  std::uint64_t walked_ = 0;
  std::uint64_t queued_ = 0;
  std::uint64_t extracted_ = 0;
};

StageResult Stage(const char* archivePath, ArchiveReader& archive, const char* gameDirectory,
                  const char* stagingDirectory, JournalRecord* plan, progress::ProgressTargets* progress,
                  const std::set<std::string>* selection, unsigned threads) {
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

  StagingProgress shown(progress, archive.Count());
  ParallelExtractor extractor(archivePath, &archive, threads == 0 ? DefaultStagingThreads() : threads,
                              [&shown](std::uint64_t files) { shown.Extracted(files); });
  if (!extractor.Ready()) return StageResult::Failed;
  DirectoryCache directories;  // for the directory entries of moved folders
  char staged[kPathSize];
  bool stopped = false;
  const bool walked = archive.VisitEntries(nullptr, [&](std::uint64_t i, const ArchiveEntry& entry) {
    shown.Walked(i);
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
      // The extracting threads may make its levels meanwhile, which is fine.
      if (!CreateDirectoryTree(staged, LastLevel::Directory, &directories)) {
        WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", staged, static_cast<int>(::GetLastError()));
        return false;
      }
    } else if (planned.kind != JournalEntryKind::Directory) {
      ExtractJob job;
      if (!archive.CurrentPosition(&job.where)) return false;
      job.entry = entry;
      job.path = staged;
      shown.Queued();
      if (!extractor.Add(std::move(job))) return false;
    }
    plan->entries.push_back(std::move(planned));
    return true;
  });
  if (stopped || !walked) {
    extractor.Cancel();
    return stopped ? StageResult::Stopped : StageResult::Failed;
  }
  // Cancel and Finish return only once no thread writes into the staging
  // folder, which a failure then removes.
  const bool extracted = extractor.Finish();
  shown.Walked(archive.Count());
  return extracted ? StageResult::Staged : StageResult::Failed;
}

}  // namespace

void RemoveStagingFolder(const char* stagingDirectory) {
  if (stagingDirectory == nullptr || stagingDirectory[0] == '\0') return;
  if (::GetFileAttributesA(stagingDirectory) == INVALID_FILE_ATTRIBUTES) return;
  base::RemoveTree(stagingDirectory);
}

StageResult StageArchive(const char* archivePath, const char* gameDirectory, const char* stagingDirectory,
                         JournalRecord* plan, progress::ProgressTargets* progress,
                         const std::set<std::string>* selection, unsigned threads) {
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
  const StageResult result =
      Stage(archivePath, archive, gameDirectory, stagingDirectory, plan, progress, selection, threads);
  if (result != StageResult::Staged) {
    RemoveStagingFolder(stagingDirectory);
    plan->entries.clear();
  }
  return result;
}

}  // namespace update
