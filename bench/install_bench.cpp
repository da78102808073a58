// Installation cost: thousands of small entries unpacked in place and through
// staging and its commit (one rename per file more), measured in turns in the
// same run, over an existing client and into an empty folder, with the staged
// phases apart and the bare file operations as the floor; and one large entry
// streamed through the fixed copy buffer (peak working set stays flat).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/guards.h"
#include "bench/process_memory.h"
#include "tests/update/test_support.h"
#include "update/install/archive_install.h"
#include "update/install/commit.h"
#include "update/install/staging.h"

namespace {

double Milliseconds(const std::chrono::steady_clock::duration& d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double TimeInstall(const std::string& game, const std::string& archive) {
  const auto start = std::chrono::steady_clock::now();
  const bool ok = update::InstallArchive(game.c_str(), archive.c_str());
  const double ms = Milliseconds(std::chrono::steady_clock::now() - start);
  if (!ok) std::printf("installation failed\n");
  return ms;
}

struct StagedTimes {
  double stage = 0, journal = 0, commit = 0, end = 0;
  double Total() const { return stage + journal + commit + end; }
};

// The staged path as the worker runs it (stage, journal, commit, end), each
// phase timed on its own.
StagedTimes TimeStagedInstall(const std::string& root, const std::string& archive) {
  const std::string game = root + "\\Game", staging = root + "\\Staging", journal = root + "\\commit.journal";
  update::CommitPlace place;
  place.gameDirectory = game.c_str();
  place.stagingDirectory = staging.c_str();
  place.journalPath = journal.c_str();
  StagedTimes times;
  update::JournalRecord plan;
  plan.version = 2;
  auto start = std::chrono::steady_clock::now();
  bool ok = update::StageArchive(archive.c_str(), game.c_str(), staging.c_str(), &plan, nullptr) ==
            update::StageResult::Staged;
  auto now = std::chrono::steady_clock::now();
  times.stage = Milliseconds(now - start);
  start = now;
  ok = ok && update::WriteJournalFile(journal.c_str(), plan);
  now = std::chrono::steady_clock::now();
  times.journal = Milliseconds(now - start);
  start = now;
  ok = ok && update::ApplyCommit(place, plan, /*checkFirst=*/false) == update::CommitResult::Applied;
  now = std::chrono::steady_clock::now();
  times.commit = Milliseconds(now - start);
  start = now;
  update::EndCommit(place);
  times.end = Milliseconds(std::chrono::steady_clock::now() - start);
  if (!ok) std::printf("staged installation failed\n");
  return times;
}

// The file operations alone, without the archive: per file, an overwrite in
// place against a new file written elsewhere and moved over the target. This
// is the floor of what staging costs on the machine at hand (a file system
// that flushes a file renamed over another, as ext4 does, pays that here).
// Renames the open file `file` over `target` (an absolute path): the commit's
// move without opening the staged file again.
bool RenameOpenFile(HANDLE file, const std::string& target) {
  const std::string ntPath = "\\??\\" + target;
  const int units = ::MultiByteToWideChar(CP_ACP, 0, ntPath.c_str(), -1, nullptr, 0);
  if (units <= 1) return false;
  const std::size_t nameBytes = static_cast<std::size_t>(units - 1) * sizeof(WCHAR);
  std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
  FILE_RENAME_INFO* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
  info->ReplaceIfExists = TRUE;
  info->RootDirectory = nullptr;
  info->FileNameLength = static_cast<DWORD>(nameBytes);
  if (::MultiByteToWideChar(CP_ACP, 0, ntPath.c_str(), -1, info->FileName, units) != units) return false;
  return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) != 0;
}

void TimeBareOperations(const std::string& root, int files) {
  const std::string game = root + "\\Bare", staging = root + "\\BareStaging";
  ::CreateDirectoryA(game.c_str(), nullptr);
  ::CreateDirectoryA(staging.c_str(), nullptr);
  const std::string content(200, 'x');
  auto write = [&](const std::string& path) {
    base::UniqueHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file.Valid() && ::WriteFile(file.Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
  };
  auto target = [&](int i) { return game + "\\" + std::to_string(i) + ".dat"; };
  // Staged names as the installation makes them, folders included.
  auto staged = [&](int i) { return staging + "\\" + update::StagedFileName(static_cast<std::uint32_t>(i)); };
  auto stagedFolder = [&](int i) {
    return staging + "\\" + update::StagedFileName(static_cast<std::uint32_t>(i)).substr(0, 8);
  };
  bool ok = true;
  for (int i = 0; i < files; ++i) ok = write(target(i)) && ok;
  double bestOverwrite = 1e30, bestCreate = 1e30, bestMove = 1e30, bestHeld = 1e30, bestReopened = 1e30;
  for (int turn = 0; turn < 3; ++turn) {
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < files; ++i) ok = write(target(i)) && ok;
    auto now = std::chrono::steady_clock::now();
    bestOverwrite = std::min(bestOverwrite, Milliseconds(now - start));
    start = now;
    for (int i = 0; i < files; ++i) {
      if (i % update::kStagedFilesPerFolder == 0) ::CreateDirectoryA(stagedFolder(i).c_str(), nullptr);
      ok = write(staged(i)) && ok;
    }
    now = std::chrono::steady_clock::now();
    bestCreate = std::min(bestCreate, Milliseconds(now - start));
    start = now;
    for (int i = 0; i < files; ++i)
      ok = ::MoveFileExA(staged(i).c_str(), target(i).c_str(), MOVEFILE_REPLACE_EXISTING) && ok;
    bestMove = std::min(bestMove, Milliseconds(std::chrono::steady_clock::now() - start));

    // The same new files kept open, then renamed through their handles.
    std::vector<base::UniqueHandle> open;
    for (int i = 0; i < files; ++i) {
      open.emplace_back(::CreateFileA(staged(i).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
      DWORD written = 0;
      ok = open.back().Valid() &&
           ::WriteFile(open.back().Get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr) && ok;
    }
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < files; ++i) {
      ok = RenameOpenFile(open[static_cast<std::size_t>(i)].Get(), target(i)) && ok;
      open[static_cast<std::size_t>(i)].Reset();
    }
    bestHeld = std::min(bestHeld, Milliseconds(std::chrono::steady_clock::now() - start));

    // The staged files opened again for deletion only and renamed through
    // that handle: the commit's move without MoveFileExA's own checks.
    for (int i = 0; i < files; ++i) ok = write(staged(i)) && ok;
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < files; ++i) {
      base::UniqueHandle file(::CreateFileA(staged(i).c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      ok = file.Valid() && RenameOpenFile(file.Get(), target(i)) && ok;
    }
    bestReopened = std::min(bestReopened, Milliseconds(std::chrono::steady_clock::now() - start));
  }
  if (!ok) std::printf("a bare operation failed\n");
  std::printf("bare file operations, %d files of 200 bytes: overwrite in place %.0f ms; new file %.0f ms + move over "
              "the target %.0f ms = %.2fx; renamed through the handle still open %.0f ms, through a handle opened again %.0f ms\n",
              files, bestOverwrite, bestCreate, bestMove, (bestCreate + bestMove) / bestOverwrite, bestHeld, bestReopened);
}

}  // namespace

// An optional argument names the folder to work in (say, one on a tmpfs, to
// tell the file system's share of the cost from Wine's).
int main(int argc, char** argv) {
  std::unique_ptr<testing_update::ScratchDir> scratch =
      argc > 1 ? std::make_unique<testing_update::ScratchDir>(argv[1]) : std::make_unique<testing_update::ScratchDir>();
  const testing_update::ScratchDir& dir = *scratch;
  const std::string archive = dir / "small.zip";
  const int kFiles = 5000;
  std::vector<testing_update::ZipEntry> entries;
  for (int i = 0; i < kFiles; ++i)
    entries.push_back({"pack" + std::to_string(i % 50) + "/sub/file" + std::to_string(i) + ".dat", std::string(200, 'a' + i % 26), 0x20});
  testing_update::WriteZip(archive, entries);
  const std::string game = dir / "Game";
  ::CreateDirectoryA(game.c_str(), nullptr);
  const double fresh = TimeInstall(game, archive);
  const double over = TimeInstall(game, archive);
  std::printf("%d small entries: fresh %.0f ms (%.0f us/entry), over existing %.0f ms (%.0f us/entry)\n", kFiles, fresh,
              fresh * 1000 / kFiles, over, over * 1000 / kFiles);

  // In place against staged, over an existing client, in turns so that both
  // see the same machine; the best of each is compared.
  const std::string stagedRoot = dir / "StagedRoot";
  ::CreateDirectoryA(stagedRoot.c_str(), nullptr);
  ::CreateDirectoryA((stagedRoot + "\\Game").c_str(), nullptr);
  TimeStagedInstall(stagedRoot, archive);  // a client to install over
  double bestInPlace = 1e30;
  StagedTimes bestStaged;
  bestStaged.stage = 1e30;
  for (int turn = 0; turn < 3; ++turn) {
    const double inPlace = TimeInstall(game, archive);
    const StagedTimes staged = TimeStagedInstall(stagedRoot, archive);
    std::printf("  turn %d: in place %.0f ms, staged %.0f ms (stage %.0f, journal %.0f, commit %.0f, end %.0f)\n", turn,
                inPlace, staged.Total(), staged.stage, staged.journal, staged.commit, staged.end);
    if (inPlace < bestInPlace) bestInPlace = inPlace;
    if (staged.Total() < bestStaged.Total()) bestStaged = staged;
  }
  std::printf("%d small entries over an existing client: in place %.0f ms, staged %.0f ms, ratio %.2f (limit 1.30)\n",
              kFiles, bestInPlace, bestStaged.Total(), bestStaged.Total() / bestInPlace);

  // A first installation: both write every file under a new name.
  double bestFreshInPlace = 1e30, bestFreshStaged = 1e30;
  for (int turn = 0; turn < 3; ++turn) {
    const std::string freshRoot = dir / ("Fresh" + std::to_string(turn));
    const std::string freshGame = freshRoot + "\\Game";
    ::CreateDirectoryA(freshRoot.c_str(), nullptr);
    ::CreateDirectoryA(freshGame.c_str(), nullptr);
    ::CreateDirectoryA((freshGame + "In").c_str(), nullptr);
    bestFreshInPlace = std::min(bestFreshInPlace, TimeInstall(freshGame + "In", archive));
    bestFreshStaged = std::min(bestFreshStaged, TimeStagedInstall(freshRoot, archive).Total());
  }
  std::printf("%d small entries into an empty folder: in place %.0f ms, staged %.0f ms, ratio %.2f\n", kFiles,
              bestFreshInPlace, bestFreshStaged, bestFreshStaged / bestFreshInPlace);
  TimeBareOperations(dir.Path(), kFiles);

  const std::string big = dir / "big.zip";
  const size_t before = bench::MeasureMemory().peakKb;
  testing_update::WriteZip(big, {{"big.bin", std::string(64u << 20, 'b'), 0x20}});
  entries.clear();
  const size_t afterMaking = bench::MeasureMemory().peakKb;  // the test archive itself was built in memory
  const double bigMs = TimeInstall(game, big);
  std::printf("64 MiB entry: %.0f ms; peak working set %zu KiB before, %zu KiB after making it, %zu KiB after installing\n",
              bigMs, before, afterMaking, bench::MeasureMemory().peakKb);
  return 0;
}
