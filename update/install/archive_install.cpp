#include "update/install/archive_install.h"

#include "update/install/archive_reader.h"
#include "update/download_log.h"
#include "update/install/entry_name.h"

namespace update {

bool InstallArchive(const char* targetDirectory, const char* archivePath, progress::ProgressTargets* progress) {
  ArchiveReader archive(archivePath);
  if (archive.OpenState() != ArchiveReader::State::Open) return archive.OpenState() == ArchiveReader::State::Empty;
  if (!archive.CheckNames(targetDirectory, nullptr)) return false;

  DirectoryCache directories;
  char target[kPathSize];
  return archive.VisitEntries(progress, [&](std::uint64_t, const ArchiveEntry& entry) {
    if (!ComposeEntryTarget(target, targetDirectory, entry.name)) return false;
    if (IsDirectoryEntry(entry.name, entry.attributes)) {
      if (!CreateDirectoryTree(target, LastLevel::Directory, &directories))
        WriteLog("Failed to CreateDirectory(%s/%s)\n", targetDirectory, entry.name);
      return true;
    }
    return archive.ExtractCurrent(entry, target, &directories) == ExtractResult::Extracted;
  });
}

}  // namespace update
