// Installation cost of one archive along the whole path the worker takes:
// `install_path_bench ARCHIVE ROOT [THREADS]` stages ARCHIVE under ROOT\Temp\Staging,
// journals and commits it into ROOT\Game (both made when missing) and ends
// the commit, then prints its time, the entries and bytes the archive
// declares, and the peak working set above the process's working set at the
// start (bench/run reads the line). THREADS sets the staging threads (by
// default as many as the worker uses).
#include <windows.h>
#include <unzip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/process_memory.h"
#include "update/install/commit.h"
#include "update/install/parallel_extract.h"
#include "update/install/staging.h"
#include "update/install/zip_file_functions.h"

namespace {

// Entries and uncompressed bytes the archive declares, read through the
// installer's own file functions: bench/run times this program from outside,
// and minizip's stdio functions would cost it two reads of the file per entry
// that the installation itself does not make.
bool Totals(const char* archive, unsigned long long* entries, unsigned long long* bytes) {
  unzFile file = update::OpenZipForReading(archive);
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
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: install_path_bench ARCHIVE ROOT [THREADS]\n");
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

  const unsigned threads = argc == 4 ? static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10))
                                     : update::DefaultStagingThreads();
  const bench::ProcessMemory before = bench::MeasureMemory();
  // The steps of InstallUpdate, timed apart: staging, then the journal and the moves.
  const auto start = std::chrono::steady_clock::now();
  update::JournalRecord plan;
  plan.version = 2;
  bool ok = update::StageArchive(argv[1], place.gameDirectory, place.stagingDirectory, &plan, nullptr, nullptr,
                                 threads) == update::StageResult::Staged;
  const auto staged = std::chrono::steady_clock::now();
  ok = ok && update::WriteJournalFile(place.journalPath, plan);
  const auto journalled = std::chrono::steady_clock::now();
  ok = ok && update::ApplyCommit(place, plan, /*checkFirst=*/false) == update::CommitResult::Applied;
  if (ok) update::EndCommit(place);
  const auto end = std::chrono::steady_clock::now();
  using Ms = std::chrono::duration<double, std::milli>;
  const double ms = Ms(end - start).count();
  const double commitMs = Ms(end - staged).count();
  const double journalMs = Ms(journalled - staged).count();
  const bench::ProcessMemory after = bench::MeasureMemory();
  std::printf("ok=%d ms=%.1f commit_ms=%.1f journal_ms=%.1f threads=%u entries=%llu bytes=%llu start_ws_kb=%zu peak_ws_kb=%zu peak_above_start_kb=%zu\n",
              ok ? 1 : 0, ms, commitMs, journalMs, threads, entries, bytes, before.workingSetKb, after.peakKb,
              after.peakKb > before.workingSetKb ? after.peakKb - before.workingSetKb : 0);
  return ok ? 0 : 1;
}
