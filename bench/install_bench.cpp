// Installation cost: thousands of small entries unpacked in place and through
// staging and its commit (one rename per file more), measured in turns in the
// same run; and one large entry streamed through the fixed copy buffer (peak
// working set stays flat).
#include <windows.h>
#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/update/test_support.h"
#include "update/archive_install.h"
#include "update/commit.h"

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

// The staged path as the worker runs it: stage, journal, commit, end.
double TimeStagedInstall(const std::string& root, const std::string& archive) {
  const std::string game = root + "\\Game", staging = root + "\\Staging", journal = root + "\\commit.journal";
  update::CommitPlace place;
  place.gameDirectory = game.c_str();
  place.stagingDirectory = staging.c_str();
  place.journalPath = journal.c_str();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = update::InstallUpdate(place, archive.c_str(), 2) == update::InstallResult::Installed;
  update::EndCommit(place);
  const double ms = Milliseconds(std::chrono::steady_clock::now() - start);
  if (!ok) std::printf("staged installation failed\n");
  return ms;
}

size_t PeakWorkingSetKb() {
  PROCESS_MEMORY_COUNTERS counters = {};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakWorkingSetSize / 1024;
}

}  // namespace

int main() {
  testing_update::ScratchDir dir;
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
  double bestInPlace = 1e30, bestStaged = 1e30;
  for (int turn = 0; turn < 3; ++turn) {
    const double inPlace = TimeInstall(game, archive);
    const double staged = TimeStagedInstall(stagedRoot, archive);
    std::printf("  turn %d: in place %.0f ms, staged %.0f ms\n", turn, inPlace, staged);
    if (inPlace < bestInPlace) bestInPlace = inPlace;
    if (staged < bestStaged) bestStaged = staged;
  }
  std::printf("%d small entries over an existing client: in place %.0f ms, staged %.0f ms, ratio %.2f (limit 1.30)\n",
              kFiles, bestInPlace, bestStaged, bestStaged / bestInPlace);

  const std::string big = dir / "big.zip";
  const size_t before = PeakWorkingSetKb();
  testing_update::WriteZip(big, {{"big.bin", std::string(64u << 20, 'b'), 0x20}});
  entries.clear();
  const size_t afterMaking = PeakWorkingSetKb();  // the test archive itself was built in memory
  const double bigMs = TimeInstall(game, big);
  std::printf("64 MiB entry: %.0f ms; peak working set %zu KiB before, %zu KiB after making it, %zu KiB after installing\n",
              bigMs, before, afterMaking, PeakWorkingSetKb());
  return 0;
}
