#include "update/self_update/launcher_package.h"

#include <windows.h>

#include <cstring>

#include "base/bounded_format.h"
#include "base/file_tree.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/install/archive_reader.h"
#include "update/install/entry_name.h"
#include "update/transfer/body_checks.h"

namespace update {

namespace {

const char kExecutable[] = "Launcher.exe";

std::string CheckCause(const ArchiveBodyCheck& check, const ArchiveExpectation& expected) {
  const unsigned long long received = check.Verifier().Received();
  switch (check.Last()) {
    case ArchiveCheck::TooLarge:
      return "it is larger than LauncherSize (" + std::to_string(expected.size) + " bytes)";
    case ArchiveCheck::SizeMismatch:
      return "it has " + std::to_string(received) + " bytes, LauncherSize says " + std::to_string(expected.size);
    case ArchiveCheck::DigestMismatch:
    case ArchiveCheck::Match:
      break;
  }
  return "its SHA-256 is not LauncherSha256";
}

// The entry's name with "\" between levels ("/" is never a trail byte of
// code page 936, so the swap is safe byte by byte).
std::string DiskName(const char* name) {
  std::string text(name);
  for (char& c : text)
    if (c == '/') c = '\\';
  while (!text.empty() && text.back() == '\\') text.pop_back();
  return text;
}

bool UnderData(const std::string& name) { return name.size() > 5 && _strnicmp(name.c_str(), "Data\\", 5) == 0; }

}  // namespace

PackageFetch FetchLauncherPackage(const LauncherOffer& offer, const std::string& partPath,
                                  const std::string& recordPath, const PackageTransfer& transfer,
                                  std::string* cause) {
  PartFiles files;
  files.recordPath = recordPath.c_str();
  files.expected = offer.package;
  bool refused = false;
  for (std::size_t i = 0; i < kLauncherUrlCount; ++i) {
    if (offer.urls[i][0] == '\0') continue;
    // By its digest's prefix, as the archive: every player asks for the same
    // URL, which a cache can answer, and a new package gets a new one.
    char hex[kSha256HexSize];
    FormatSha256Hex(offer.package.digest, hex);
    char url[kPathSize] = {};
    if (!base::FormatInto(url, sizeof url, "%s?%.16s", offer.urls[i], hex)) {
      LogTransferFailure(offer.urls[i], 3);  // CURLE_URL_MALFORMAT
      continue;
    }
    if (i != 0) WriteLog("Trying the next mirror of the launcher (%s)\n", url);
    ArchiveBodyCheck check(offer.package);
    if (FetchFile(partPath.c_str(), url, transfer.progress, transfer.limits, transfer.retry, &check, &files))
      return PackageFetch::Fetched;
    if (transfer.progress != nullptr && transfer.progress->stop.Requested()) return PackageFetch::Stopped;
    if (check.Refused()) {
      // Bytes that are not the package never stay to be resumed.
      refused = true;
      *cause = CheckCause(check, offer.package);
      ::DeleteFileA(partPath.c_str());
      ::DeleteFileA(recordPath.c_str());
    } else {
      refused = false;  // the last host failed otherwise: another run may get it
    }
  }
  return refused ? PackageFetch::Refused : PackageFetch::Failed;
}

PackageUnpack UnpackLauncherPackage(const std::string& packagePath, const std::string& folder,
                                    const std::string& currentData, std::vector<std::string>* named,
                                    std::string* cause) {
  named->clear();
  base::RemoveTree(folder);
  if (!::CreateDirectoryA(folder.c_str(), nullptr)) {
    *cause = "cannot make " + folder;
    return PackageUnpack::Failed;
  }
  ArchiveReader reader(packagePath.c_str());
  if (reader.OpenState() != ArchiveReader::State::Open) {
    *cause = "it is not a ZIP archive with entries";
    return PackageUnpack::Refused;
  }
  // Every name first: the client's rules, then the package's own shape.
  bool executable = false;
  std::string stray;
  std::vector<std::string> data;
  if (!reader.CheckNames(folder.c_str(), nullptr, nullptr, [&](const ArchiveEntry& entry) {
        const std::string name = DiskName(entry.name);
        const bool directory = IsDirectoryEntry(entry.name, entry.attributes);
        if (!directory && _stricmp(name.c_str(), kExecutable) == 0) {
          executable = true;
        } else if (UnderData(name)) {
          if (!directory) data.push_back(name);
        } else if (!(directory && _stricmp(name.c_str(), "Data") == 0) && stray.empty()) {
          stray = entry.storedName;
        }
      })) {
    *cause = "an entry's name is refused (see the line above)";
    return PackageUnpack::Refused;
  }
  if (!executable) {
    *cause = "it holds no Launcher.exe at its root";
    return PackageUnpack::Refused;
  }
  if (!stray.empty()) {
    *cause = "it holds " + stray + ", which is neither Launcher.exe nor under Data/";
    return PackageUnpack::Refused;
  }

  DirectoryCache directories;
  bool writeFailed = false;
  const bool extracted = reader.VisitEntries(nullptr, [&](std::uint64_t, const ArchiveEntry& entry) {
    if (IsDirectoryEntry(entry.name, entry.attributes)) return true;
    const std::string path = folder + "\\" + DiskName(entry.name);
    const ExtractResult result = reader.ExtractCurrent(entry, path.c_str(), &directories);
    writeFailed = result == ExtractResult::WriteFailed;
    return result == ExtractResult::Extracted;
  });
  if (!extracted) {
    *cause = writeFailed ? "cannot write into " + folder : "an entry's data fails its check (see the line above)";
    return writeFailed ? PackageUnpack::Failed : PackageUnpack::Refused;
  }
  named->push_back(kExecutable);
  named->insert(named->end(), data.begin(), data.end());

  // What the package does not bring, the new launcher finds as the old one
  // left it: Config.cfg above all, and the skin images it names.
  bool copied = true;
  ::CreateDirectoryA((folder + "\\Data").c_str(), nullptr);
  base::VisitTree(currentData, [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
    const std::string target = folder + "\\Data\\" + relative;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      ::CreateDirectoryA(target.c_str(), nullptr);
      return;
    }
    if (::GetFileAttributesA(target.c_str()) != INVALID_FILE_ATTRIBUTES) return;
    if (!::CopyFileA((currentData + "\\" + relative).c_str(), target.c_str(), TRUE)) copied = false;
  });
  if (!copied) {
    *cause = "cannot copy the current Data into " + folder;
    return PackageUnpack::Failed;
  }
  return PackageUnpack::Unpacked;
}

}  // namespace update
