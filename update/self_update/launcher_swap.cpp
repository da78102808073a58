#include "update/self_update/launcher_swap.h"

#include <shlwapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/durable_file.h"
#include "base/guards.h"
#include "update/directory_levels.h"
#include "update/download_log.h"
#include "update/install/directory_tree.h"

namespace update {

namespace {

const char kSection[] = "Launcher";

bool Exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A refusal that another process's handle explains, and that its close ends.
bool MayPass(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

std::string Describe(const char* what, const std::string& from, const std::string& to, DWORD error) {
  char text[2 * kPathSize + 80] = {};
  std::snprintf(text, sizeof text, "%s %s to %s, GetLastError=%lu", what, from.c_str(), to.c_str(),
                static_cast<unsigned long>(error));
  return text;
}

// One rename, tried again while the file is held, within `budget` (shared by
// every rename of the swap so that a swap never waits longer than it).
bool Rename(const SwapStep& step, const SwapTiming& timing, DWORD* budgetLeft, std::string* cause) {
  DirectoryCache directories;
  if (!CreateDirectoryTree(step.to.c_str(), LastLevel::FileName, &directories)) {
    *cause = Describe("cannot make the folder to move", step.from, step.to, ::GetLastError());
    return false;
  }
  DWORD delay = timing.firstDelayMs;
  for (;;) {
    if (::MoveFileExA(step.from.c_str(), step.to.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    const DWORD error = ::GetLastError();
    if (!MayPass(error) || *budgetLeft == 0) {
      *cause = Describe(MayPass(error) ? "held by another process: cannot move" : "cannot move", step.from, step.to,
                        error);
      return false;
    }
    const DWORD wait = delay < *budgetLeft ? delay : *budgetLeft;
    ::Sleep(wait);
    *budgetLeft -= wait;
    delay = delay * 2 > 1000 ? 1000 : delay * 2;
  }
}

std::vector<MoveState> States(const SwapRecord& record) {
  std::vector<MoveState> states;
  for (const SwapMove& move : record.moves)
    states.push_back(ClassifyMove(move, MoveFacts{Exists(move.target), Exists(move.replacement), Exists(move.backup)}));
  return states;
}

// Takes every move to the end of `direction` from what is on disk.
bool Drive(const SwapRecord& record, SwapDirection direction, const SwapTiming& timing, DWORD* budgetLeft,
           std::size_t* renamesDone, const SwapStepObserver& observer, std::string* cause) {
  std::vector<SwapStep> steps;
  if (!PlanSwapSteps(record, States(record), direction, &steps)) {
    *cause = "the files of the swap are not where it left them";
    return false;
  }
  for (const SwapStep& step : steps) {
    if (!Rename(step, timing, budgetLeft, cause)) return false;
    ++*renamesDone;
    if (observer) observer(*renamesDone);
  }
  return true;
}

bool WriteJournal(const SwapRecord& record, const std::string& path) {
  std::string bytes;
  return FormatSwapJournal(record, &bytes) && base::WriteFileDurably(path.c_str(), bytes);
}

bool ReadJournal(const std::string& path, SwapRecord* record, bool* found) {
  *found = false;
  base::UniqueHandle file(
      ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  *found = true;
  LARGE_INTEGER size{};
  constexpr LONGLONG kMaxJournalBytes = 1 << 20;
  if (!::GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxJournalBytes) return false;
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!bytes.empty() && (!::ReadFile(file.Get(), &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr) ||
                         read != bytes.size()))
    return false;
  return ParseSwapJournal(bytes.data(), bytes.size(), record) == SwapJournalParse::Valid;
}

bool RecordLauncherVersion(const SwapPlaces& places, std::int32_t version) {
  const std::string number = std::to_string(version);
  return ::WritePrivateProfileStringA(kSection, "LauncherVersion", number.c_str(), places.installRecord.c_str()) != 0;
}

// Forward, else back; the journal goes once one of them has gone through.
SwapReport Complete(const SwapRecord& record, const SwapPlaces& places, const SwapTiming& timing,
                    const SwapStepObserver& observer) {
  SwapReport report;
  DWORD budget = timing.heldBudgetMs;
  std::size_t renames = 0;
  if (Drive(record, SwapDirection::Forward, timing, &budget, &renames, observer, &report.cause)) {
    if (!RecordLauncherVersion(places, record.version)) {
      // The files are swapped; the journal stays so that the next start records the version.
      report.cause = "cannot write LauncherVersion to " + places.installRecord;
      report.outcome = SwapOutcome::Swapped;
      return report;
    }
    ::DeleteFileA(places.journal.c_str());
    report.outcome = SwapOutcome::Swapped;
    report.cause.clear();
    return report;
  }
  // The way back gets its own budget: a file held on the way forward may be
  // free again by now, and the old launcher must come back.
  DWORD backBudget = timing.heldBudgetMs;
  std::string backCause;
  if (Drive(record, SwapDirection::Back, timing, &backBudget, &renames, observer, &backCause)) {
    ::DeleteFileA(places.journal.c_str());
    report.outcome = SwapOutcome::Undone;
    return report;
  }
  report.cause += "; undoing: " + backCause;
  report.outcome = SwapOutcome::Stuck;
  return report;
}

}  // namespace

SwapReport SwapLauncher(const SwapRecord& record, const SwapPlaces& places, const SwapTiming& timing,
                        const SwapStepObserver& observer) {
  if (!WriteJournal(record, places.journal)) {
    SwapReport report;
    report.outcome = SwapOutcome::Undone;  // nothing moved
    report.cause = "cannot write " + places.journal;
    return report;
  }
  if (observer) observer(0);
  return Complete(record, places, timing, observer);
}

void RecoverLauncherSwap(const SwapPlaces& places, const SwapTiming& timing) {
  SwapRecord record;
  bool found = false;
  if (!ReadJournal(places.journal, &record, &found)) {
    if (!found) return;
    // A journal is renamed into place whole; a damaged one names nothing
    // that can be trusted to move.
    WriteLog("Removed a damaged %s\n", places.journal.c_str());
    ::DeleteFileA(places.journal.c_str());
    return;
  }
  const SwapReport report = Complete(record, places, timing, nullptr);
  switch (report.outcome) {
    case SwapOutcome::Swapped:
      WriteLog("Finished the interrupted swap to launcher %d\n", static_cast<int>(record.version));
      if (!report.cause.empty()) WriteLog("Failed to record launcher %d: %s\n", static_cast<int>(record.version),
                                          report.cause.c_str());
      break;
    case SwapOutcome::Undone:
      WriteLog("Undid the interrupted swap to launcher %d: %s\n", static_cast<int>(record.version),
               report.cause.c_str());
      break;
    case SwapOutcome::Stuck:
      WriteLog("Cannot finish or undo the swap to launcher %d: %s\n", static_cast<int>(record.version),
               report.cause.c_str());
      break;
  }
}

bool CurrentSwapPlaces(SwapPlaces* places) {
  char current[kPathSize] = {};
  const DWORD length = ::GetCurrentDirectoryA(sizeof current, current);
  if (length == 0 || length >= sizeof current) return false;
  places->journal = std::string(current) + "\\Temp\\launcher.journal";
  places->installRecord = std::string(current) + "\\install.cfg";
  return places->journal.size() + 4 < kPathSize;
}

}  // namespace update
