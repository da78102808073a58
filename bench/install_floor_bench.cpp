// The floor under an installation: `install_floor_bench ARCHIVE ROOT [THREADS]`
// writes exactly the files an installation of ARCHIVE leaves in ROOT\Game (the
// same names on disk, folders and sizes, read from the archive's central
// directory as the installer reads it) with bytes from memory: nothing is
// inflated, checked, staged, journalled or moved. Each file is written with
// the calls the installer writes a staged file with (OpenNewFile, one fwrite
// for an entry read whole or pieces of the copy buffer for a larger one,
// which goes to the disk behind its writes and once more before it is
// closed, fclose), and each folder is made once.
// THREADS threads (by default as many as the installer stages on) take the
// files in archive order. Prints ok=1 ms=... threads=N files=N dirs=N bytes=N
// (bench/run sets the installation's time against it, both timed from outside
// so that both include Wine's start of the process and the archive's
// directory).
#include <windows.h>

#include <io.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/new_file.h"
#include "base/unique_file.h"
#include "base/write_behind.h"
#include "update/directory_levels.h"
#include "update/install/archive_reader.h"
#include "update/install/entry_name.h"
#include "update/install/parallel_extract.h"

namespace {

struct FloorFile {
  std::string path;
  std::uint64_t size;
};

bool WriteOne(const FloorFile& f, const unsigned char* bytes, base::WriteBehind* behind) {
  base::UniqueFile file(base::OpenNewFile(f.path.c_str()));
  if (!file) return false;
  if (f.size <= update::kWholeEntryLimit) {
    const std::size_t n = static_cast<std::size_t>(f.size);
    return (n == 0 || std::fwrite(bytes, 1, n, file.Get()) == n) && file.Close();
  }
  // As the installer's streamed entries: handed to the disk while written,
  // then flushed.
  base::WriteBehindFile toDisk(behind, file.Get());
  for (std::uint64_t left = f.size; left > 0;) {
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, update::kCopyBufferSize));
    if (std::fwrite(bytes, 1, n, file.Get()) != n) return false;
    left -= n;
    toDisk.Wrote(f.size - left);
  }
  return base::FlushToDisk(file.Get()) && file.Close();
}

// Every level of `path` below `game` (its last level a folder when
// `lastIsFolder`), shallowest first, into `folders` once each.
void AddLevels(const std::string& path, bool lastIsFolder, std::size_t gameLength, std::set<std::string>* seen,
               std::vector<std::string>* folders) {
  for (std::size_t i = gameLength + 1; i <= path.size(); ++i) {
    const bool end = i == path.size();
    if (end ? !lastIsFolder : (path[i] != '/' && path[i] != '\\')) continue;
    std::string level = path.substr(0, i);
    if (seen->insert(level).second) folders->push_back(std::move(level));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: install_floor_bench ARCHIVE ROOT [THREADS]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const std::string root = argv[2];
  const std::string game = root + "\\Game";
  ::CreateDirectoryA(root.c_str(), nullptr);
  ::CreateDirectoryA(game.c_str(), nullptr);

  std::vector<FloorFile> files;
  std::vector<std::string> folders;
  std::set<std::string> seen;
  std::uint64_t bytes = 0, largest = 0;
  {
    update::ArchiveReader archive(argv[1]);
    if (archive.OpenState() != update::ArchiveReader::State::Open) {
      std::printf("ok=0 cannot read %s\n", argv[1]);
      return 1;
    }
    char target[update::kPathSize];
    const bool walked = archive.VisitEntries(nullptr, [&](std::uint64_t, const update::ArchiveEntry& entry) {
      if (!entry.nameUsable || !update::ComposeEntryTarget(target, game.c_str(), entry.name)) return false;
      const bool folder = update::IsDirectoryEntry(entry.name, entry.attributes);
      std::string path = target;
      while (folder && !path.empty() && (path.back() == '/' || path.back() == '\\')) path.pop_back();
      AddLevels(path, folder, game.size(), &seen, &folders);
      if (!folder) {
        files.push_back({std::move(path), entry.size});
        bytes += entry.size;
        largest = std::max(largest, entry.size);
      }
      return true;
    });
    if (!walked) {
      std::printf("ok=0 cannot walk %s\n", argv[1]);
      return 1;
    }
  }
  for (const std::string& folder : folders) {
    if (!::CreateDirectoryA(folder.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      std::printf("ok=0 cannot make %s\n", folder.c_str());
      return 1;
    }
  }

  // The bytes: one buffer as large as the copy buffer or the largest entry
  // read whole, whichever is larger, filled with a pattern that no page of
  // zeros could stand for.
  const std::size_t bufferSize = static_cast<std::size_t>(
      std::max<std::uint64_t>(update::kCopyBufferSize, std::min(largest, update::kWholeEntryLimit)));
  auto buffer = std::make_unique<unsigned char[]>(bufferSize);
  for (std::size_t i = 0; i < bufferSize; ++i) buffer[i] = static_cast<unsigned char>(i * 131 + 7);

  const unsigned threads = argc == 4 ? std::max(1u, static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)))
                                     : update::DefaultStagingThreads();
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  auto work = [&] {
    base::WriteBehind behind;  // one per writing thread, as each staging thread's
    for (std::size_t i; !failed && (i = next.fetch_add(1)) < files.size();)
      if (!WriteOne(files[i], buffer.get(), &behind)) failed = true;
  };
  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < threads; ++i) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("ok=%d ms=%.1f threads=%u files=%zu dirs=%zu bytes=%llu\n", failed ? 0 : 1, ms, threads, files.size(),
              folders.size(), static_cast<unsigned long long>(bytes));
  return failed ? 1 : 0;
}
