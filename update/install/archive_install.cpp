#include "update/install/archive_install.h"

#include "base/progress_targets.h"
#include "update/install/archive_reader.h"
#include "update/download_log.h"
#include "update/install/entry_name.h"
#include "update/transfer_rules.h"

namespace update {

bool InstallArchive(const char* targetDirectory, const char* archivePath, progress::ProgressTargets* progress) {
  ArchiveReader archive(archivePath);
  if (archive.OpenState() != ArchiveReader::State::Open) return archive.OpenState() == ArchiveReader::State::Empty;
  if (!archive.CheckNames(targetDirectory, nullptr)) return false;

  DirectoryCache directories;
  ArchiveEntry entry;
  char target[kPathSize];
  const std::uint64_t count = archive.Count();
  for (std::uint64_t i = 0; i < count; ++i) {
    if (progress != nullptr) progress->upperTarget.store(InstallPercent(i, count));
    if (!archive.ReadCurrent(&entry) || !ComposeEntryTarget(target, targetDirectory, entry.name)) return false;
    if (IsDirectoryEntry(entry.name, entry.attributes)) {
      if (!CreateDirectoryTree(target, LastLevel::Directory, &directories))
        WriteLog("Failed to CreateDirectory(%s/%s)\n", targetDirectory, entry.name);
    } else if (archive.ExtractCurrent(entry, target, &directories) != ExtractResult::Extracted) {
      return false;
    }
    if (i + 1 < count && !archive.MoveToNext()) return false;
  }
  return true;
}

}  // namespace update
