#include "update/self_update/launcher_update.h"

#include <shlwapi.h>

#include <string>
#include <vector>

#include "base/file_tree.h"
#include "update/download_log.h"
#include "update/self_update/self_test_run.h"

namespace update {

namespace {

const char kSection[] = "Launcher";

std::string ReadKey(const char* key, const char* file) {
  char value[kPathSize] = {};
  ::GetPrivateProfileStringA(kSection, key, "", value, sizeof value, file);
  return value;
}

std::int32_t ReadNumber(const char* key, const char* file) {
  return static_cast<std::int32_t>(::GetPrivateProfileIntA(kSection, key, 0, file));
}

bool Exists(const std::string& path) { return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The folder of `path` (the running executable), character by character in
// the ANSI code page.
std::string FolderOf(const char* path) {
  const char* name = ::PathFindFileNameA(path);
  if (name == path) return std::string();
  std::string folder(path, static_cast<std::size_t>(name - path));
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  return folder;
}

// A file made and removed at once where the executable lives: the swap's
// renames need exactly that right.
bool ProbeWritable(const std::string& folder, DWORD* error) {
  const std::string probe = folder + "\\launcher-write-probe.tmp";
  HANDLE file = ::CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = ::GetLastError();
    return false;
  }
  ::CloseHandle(file);
  return true;
}

class LauncherUpdate {
 public:
  explicit LauncherUpdate(const LauncherUpdateSetup& setup) : setup_(setup) {}

  LauncherUpdateResult Run() {
    if (!ReadOffer()) return LauncherUpdateResult::Unchanged;
    const std::int32_t installed = ReadNumber("LauncherVersion", setup_.installRecord);
    const std::int32_t refused = ReadNumber("LauncherRefused", setup_.installRecord);
    switch (DecideLauncherUpdate(offer_, setup_.descriptorSigned, installed, refused)) {
      case LauncherDecision::Unsigned:
        WriteLog("Ignored launcher %d: version.cfg is not signed\n", Version());
        return LauncherUpdateResult::Unchanged;
      case LauncherDecision::Keep:
        return LauncherUpdateResult::Unchanged;
      case LauncherDecision::RefusedBefore:
        WriteLog("Launcher %d was refused before: not fetched again\n", Version());
        return LauncherUpdateResult::Unchanged;
      case LauncherDecision::Fetch:
        break;
    }
    if (!PreparePlaces()) return LauncherUpdateResult::Unchanged;
    return FetchTestAndSwap();
  }

 private:
  int Version() const { return static_cast<int>(offer_.version); }

  bool ReadOffer() {
    const std::string version = ReadKey("LauncherVersion", setup_.versionFile);
    const std::string url = ReadKey("LauncherUrl", setup_.versionFile);
    const std::string url2 = ReadKey("LauncherUrl2", setup_.versionFile);
    const std::string url3 = ReadKey("LauncherUrl3", setup_.versionFile);
    const std::string sha256 = ReadKey("LauncherSha256", setup_.versionFile);
    const std::string size = ReadKey("LauncherSize", setup_.versionFile);
    LauncherOfferText text;
    text.version = version.c_str();
    text.urls[0] = url.c_str();
    text.urls[1] = url2.c_str();
    text.urls[2] = url3.c_str();
    text.sha256 = sha256.c_str();
    text.size = size.c_str();
    const char* problem = "";
    switch (ReadLauncherOffer(text, &offer_, &problem)) {
      case LauncherOfferRead::None:
        return false;
      case LauncherOfferRead::Malformed:
        WriteLog("Ignored the launcher that version.cfg names: %s\n", problem);
        return false;
      case LauncherOfferRead::Offered:
        return true;
    }
    return false;
  }

  bool PreparePlaces() {
    launcherFolder_ = setup_.launcherPath != nullptr ? FolderOf(setup_.launcherPath) : std::string();
    DWORD error = ERROR_BAD_PATHNAME;
    if (launcherFolder_.empty() || !ProbeWritable(launcherFolder_, &error)) {
      WriteLog("Cannot update the launcher: %s cannot be written, GetLastError=%lu\n",
               launcherFolder_.empty() ? "its folder" : launcherFolder_.c_str(), static_cast<unsigned long>(error));
      return false;
    }
    work_ = std::string(setup_.tempDirectory) + "\\Launcher";
    part_ = work_ + "\\Launcher.zip.part";
    record_ = part_ + ".sha256";
    folder_ = work_ + "\\" + std::to_string(offer_.version);
    previous_ = work_ + "\\previous";
    resultFile_ = work_ + "\\self-test.txt";
    if (!Exists(work_) && !::CreateDirectoryA(work_.c_str(), nullptr)) {
      WriteLog("Cannot update the launcher: cannot make %s, GetLastError=%lu\n", work_.c_str(),
               static_cast<unsigned long>(::GetLastError()));
      return false;
    }
    return true;
  }

  LauncherUpdateResult FetchTestAndSwap() {
    std::string cause;
    switch (FetchLauncherPackage(offer_, part_, record_, setup_.transfer, &cause)) {
      case PackageFetch::Fetched:
        break;
      case PackageFetch::Refused:
        return Refuse(cause);
      case PackageFetch::Failed:
        WriteLog("Failed to fetch launcher %d: the game is updated with this one\n", Version());
        return LauncherUpdateResult::Unchanged;
      case PackageFetch::Stopped:
        return LauncherUpdateResult::Stopped;
    }
    std::vector<std::string> named;
    switch (UnpackLauncherPackage(part_, folder_, launcherFolder_ + "\\Data", &named, &cause)) {
      case PackageUnpack::Unpacked:
        break;
      case PackageUnpack::Refused:
        return Refuse(cause);
      case PackageUnpack::Failed:
        base::RemoveTree(folder_);
        WriteLog("Cannot update the launcher: %s\n", cause.c_str());
        return LauncherUpdateResult::Unchanged;
    }
    const SelfTestResult test =
        RunSelfTest(folder_ + "\\Launcher.exe", folder_, resultFile_, setup_.selfTestTimeoutMs);
    ::DeleteFileA(resultFile_.c_str());
    if (!test.passed) return Refuse(test.cause);
    WriteLog("Launcher %d passed its self-test (%s)\n", Version(), test.identity.c_str());
    return Swap(named);
  }

  LauncherUpdateResult Swap(const std::vector<std::string>& named) {
    // The files kept from the swap before are not running any more.
    base::RemoveTree(previous_);
    if (Exists(previous_)) {
      WriteLog("Cannot update the launcher: cannot remove %s\n", previous_.c_str());
      base::RemoveTree(folder_);
      return LauncherUpdateResult::Unchanged;
    }
    SwapRecord record;
    record.version = offer_.version;
    for (const std::string& name : named) {
      SwapMove move;
      const bool executable = &name == &named.front();
      move.target = executable ? std::string(setup_.launcherPath) : launcherFolder_ + "\\" + name;
      move.replacement = folder_ + "\\" + name;
      move.backup = previous_ + "\\" + (executable ? std::string(::PathFindFileNameA(setup_.launcherPath)) : name);
      move.replacesFile = Exists(move.target);
      record.moves.push_back(move);
    }
    SwapPlaces places;
    places.journal = std::string(setup_.tempDirectory) + "\\launcher.journal";
    places.installRecord = setup_.installRecord;
    const SwapReport report = SwapLauncher(record, places, setup_.swap);
    switch (report.outcome) {
      case SwapOutcome::Swapped:
        WriteLog("Swapped in launcher %d (%u files); the next start runs it\n", Version(),
                 static_cast<unsigned>(record.moves.size()));
        if (!report.cause.empty()) WriteLog("Failed to record launcher %d: %s\n", Version(), report.cause.c_str());
        Clean(true);
        return LauncherUpdateResult::Swapped;
      case SwapOutcome::Undone:
        WriteLog("Undid the swap to launcher %d: %s\n", Version(), report.cause.c_str());
        Clean(false);
        return LauncherUpdateResult::Unchanged;
      case SwapOutcome::Stuck:
        // The journal stays: the next start finishes or undoes the swap.
        WriteLog("Cannot finish or undo the swap to launcher %d: %s\n", Version(), report.cause.c_str());
        return LauncherUpdateResult::Unchanged;
    }
    return LauncherUpdateResult::Unchanged;
  }

  // The unpacked folder goes; the package goes too once it is in place, and
  // stays for the next run when the swap was undone.
  void Clean(bool packageUsed) {
    base::RemoveTree(folder_);
    if (!packageUsed) return;
    ::DeleteFileA(part_.c_str());
    ::DeleteFileA(record_.c_str());
  }

  LauncherUpdateResult Refuse(const std::string& cause) {
    WriteLog("Refused launcher %d: %s\n", Version(), cause.c_str());
    const std::string number = std::to_string(offer_.version);
    if (!::WritePrivateProfileStringA(kSection, "LauncherRefused", number.c_str(), setup_.installRecord))
      WriteLog("Failed to write LauncherRefused to %s, GetLastError=%lu\n", setup_.installRecord,
               static_cast<unsigned long>(::GetLastError()));
    base::RemoveTree(folder_);
    ::DeleteFileA(part_.c_str());
    ::DeleteFileA(record_.c_str());
    return LauncherUpdateResult::Unchanged;
  }

  const LauncherUpdateSetup& setup_;
  LauncherOffer offer_;
  std::string launcherFolder_;
  std::string work_;
  std::string part_;
  std::string record_;
  std::string folder_;
  std::string previous_;
  std::string resultFile_;
};

}  // namespace

LauncherUpdateResult UpdateLauncher(const LauncherUpdateSetup& setup) {
  LauncherUpdate update(setup);
  return update.Run();
}

}  // namespace update
