// Installation cost of one archive along the whole path the worker takes:
// `install_path_bench ARCHIVE ROOT` stages ARCHIVE under ROOT\Temp\Staging,
// journals and commits it into ROOT\Game (both made when missing) and ends
// the commit, the steps InstallUpdate takes, then prints its time, the
// commit's own time apart (the journal written and the moves), the entries
// and bytes the archive declares, and the peak working set above the
// process's working set at the start (bench/run reads the line).
#include <windows.h>
#include <unzip.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench/process_memory.h"
#include "update/install/commit.h"
#include "update/install/staging.h"

namespace {


// Entries and uncompressed bytes the archive declares.
bool Totals(const char* archive, unsigned long long* entries, unsigned long long* bytes) {
  unzFile file = unzOpen64(archive);
  if (file == nullptr) return false;
  *entries = 0;
  *bytes = 0;
  for (int r = unzGoToFirstFile(file); r == UNZ_OK; r = unzGoToNextFile(file)) {
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(file, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
    ++*entries;
    *bytes += info.uncompressed_size;
  }
  unzClose(file);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: install_path_bench ARCHIVE ROOT\n");
    return 2;
  }
  unsigned long long entries = 0, bytes = 0;
  if (!Totals(argv[1], &entries, &bytes)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  const std::string root = argv[2];
  const std::string game = root + "\\Game", temp = root + "\\Temp";
  const std::string staging = temp + "\\Staging", journal = temp + "\\commit.journal";
  ::CreateDirectoryA(root.c_str(), nullptr);
  ::CreateDirectoryA(game.c_str(), nullptr);
  ::CreateDirectoryA(temp.c_str(), nullptr);
  update::CommitPlace place;
  place.gameDirectory = game.c_str();
  place.stagingDirectory = staging.c_str();
  place.journalPath = journal.c_str();

  const bench::ProcessMemory before = bench::MeasureMemory();
  using Clock = std::chrono::steady_clock;
  auto since = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
  };
  const Clock::time_point start = Clock::now();
  update::JournalRecord plan;
  plan.version = 2;
  bool ok = update::StageArchive(argv[1], place.gameDirectory, place.stagingDirectory, &plan) ==
            update::StageResult::Staged;
  const Clock::time_point staged = Clock::now();
  ok = ok && update::WriteJournalFile(place.journalPath, plan) &&
       update::ApplyCommit(place, plan, /*checkFirst=*/false) == update::CommitResult::Applied;
  const Clock::time_point committed = Clock::now();
  if (ok) update::EndCommit(place);
  const Clock::time_point end = Clock::now();
  const bench::ProcessMemory after = bench::MeasureMemory();
  std::printf("ok=%d ms=%.1f stage_ms=%.1f commit_ms=%.1f end_ms=%.1f entries=%llu bytes=%llu start_ws_kb=%zu "
              "peak_ws_kb=%zu peak_above_start_kb=%zu\n",
              ok ? 1 : 0, since(start, end), since(start, staged), since(staged, committed), since(committed, end),
              entries, bytes, before.workingSetKb, after.peakKb,
              after.peakKb > before.workingSetKb ? after.peakKb - before.workingSetKb : 0);
  return ok ? 0 : 1;
}
