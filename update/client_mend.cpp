#include "update/client_mend.h"

#include <unzip.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>

#include "base/bounded_format.h"
#include "base/progress_targets.h"
#include "base/unique_file.h"
#include "update/directory_tree.h"
#include "update/entry_name.h"
#include "update/transfer_rules.h"
#include "update/zip_archive.h"

namespace update {

namespace {

class Mender {
 public:
  Mender(unzFile archive, const char* directory)
      : archive_(archive), directory_(directory), buffer_(std::make_unique<char[]>(kVerifyBlockSize)) {}

  // The current entry, already known to be a confined file entry.
  bool Extract(const char* name, ZPOS64_T declaredSize) {
    char target[kPathSize];
    if (!base::FormatInto(target, sizeof target, "%s/%s", directory_, name)) return false;
    if (!CreateDirectoryTree(target, LastLevel::FileName, &directories_)) return false;
    OpenZipEntry entry(archive_);
    if (!entry.IsOpen()) return false;
    base::UniqueFile file(std::fopen(target, "wb"));
    if (!file) return false;
    ZPOS64_T written = 0;
    for (;;) {
      const int n = unzReadCurrentFile(archive_, buffer_.get(), static_cast<unsigned>(kVerifyBlockSize));
      if (n < 0) return false;
      if (n == 0) break;
      if (std::fwrite(buffer_.get(), 1, static_cast<std::size_t>(n), file.Get()) != static_cast<std::size_t>(n))
        return false;
      written += static_cast<ZPOS64_T>(n);
    }
    return file.Close() && written == declaredSize && entry.Close();
  }

 private:
  unzFile archive_;
  const char* directory_;
  DirectoryCache directories_;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace

MendReport MendClient(const char* clientDirectory, const char* archivePath,
                      const std::vector<DamagedEntry>& damaged, progress::ProgressTargets* progress) {
  MendReport report;
  std::set<std::string> wanted;
  for (const DamagedEntry& entry : damaged) wanted.insert(entry.name);
  ZipArchive archive(archivePath);
  if (archive.Get() == nullptr) {
    report.failed.assign(wanted.begin(), wanted.end());
    return report;
  }
  report.archiveReadable = true;
  Mender mender(archive.Get(), clientDirectory);
  std::set<std::string> done;
  for (int rc = unzGoToFirstFile(archive.Get()); rc == UNZ_OK && done.size() < wanted.size();
       rc = unzGoToNextFile(archive.Get())) {
    unz_file_info64 info;
    char name[kPathSize] = {};
    if (unzGetCurrentFileInfo64(archive.Get(), &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    if (info.size_filename >= sizeof name || wanted.count(name) == 0 || done.count(name) != 0) continue;
    if (IsDirectoryEntry(name, static_cast<std::uint32_t>(info.external_fa)) || !IsConfinedEntryName(name)) continue;
    if (progress != nullptr) progress->upperTarget.store(InstallPercent(done.size(), wanted.size()));
    done.insert(name);
    if (mender.Extract(name, info.uncompressed_size)) ++report.mended;
    else report.failed.push_back(name);
  }
  // Anything asked for and not reached could not be mended either.
  for (const std::string& name : wanted)
    if (done.count(name) == 0) report.failed.push_back(name);
  if (progress != nullptr && report.failed.empty()) progress->upperTarget.store(100);
  return report;
}

}  // namespace update
