// Verification cost against the anchor of reading the same files once: a
// client of large and small files (1 GiB unless a size in MiB is given), read
// with large blocks and then verified against an archive that declares their
// sizes and CRCs, with one reading thread and with the default number,
// alternately, in one run. Warm: the files are in the page cache after a
// first read, which leaves the checksum itself as the whole difference. Cold
// (Linux only): the files' cached pages are dropped before every pass, so
// both read from the disk, as a player's first repair does.
// Prints one line of key=value figures per measurement:
//   figure=warm|cold asked=1|default threads=N files=N mib=N read_s=S verify_s=S ratio=R
// after a first line ok=1 default_threads=N cold=0|1 (ok=0: something failed).
#include <zlib.h>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/unique_file.h"
#include "update/verify/client_verify.h"
#include "tests/support/zip_fixture.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1u << 20;

double Seconds(const std::chrono::steady_clock::duration& d) { return std::chrono::duration<double>(d).count(); }

// Writes `size` bytes of a pseudo-random pattern and returns their CRC-32.
bool WriteFile(const std::string& path, std::uint64_t size, std::uint64_t seed, std::uint32_t* crc) {
  base::UniqueFile file(std::fopen(path.c_str(), "wb"));
  if (!file) return false;
  std::vector<std::uint64_t> block(kMiB / 8);
  std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  uLong sum = crc32(0L, Z_NULL, 0);
  for (std::uint64_t left = size; left > 0;) {
    for (std::uint64_t& word : block) {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      word = state;
    }
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kMiB));
    sum = crc32(sum, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(n));
    if (std::fwrite(block.data(), 1, n, file.Get()) != n) return false;
    left -= n;
  }
  *crc = static_cast<std::uint32_t>(sum);
  return file.Close();
}

// The anchor: every file read once, the way the verifier reads (large blocks,
// no stream buffer), nothing computed.
std::uint64_t ReadOnce(const std::string& game, const std::vector<testing_zip::DeclaredEntry>& files) {
  auto buffer = std::make_unique<unsigned char[]>(update::kVerifyBlockSize);
  std::uint64_t total = 0;
  for (const testing_zip::DeclaredEntry& f : files) {
    base::UniqueFile file(std::fopen((game + "/" + f.name).c_str(), "rb"));
    if (!file) continue;
    std::setvbuf(file.Get(), nullptr, _IONBF, 0);
    for (std::size_t n; (n = std::fread(buffer.get(), 1, update::kVerifyBlockSize, file.Get())) > 0;) {
      total += n;
      if (n < update::kVerifyBlockSize) break;
    }
  }
  return total;
}

// Drops the files' pages from the page cache (written back first); false
// where the system offers no way to.
bool DropCached(const std::string& game, const std::vector<testing_zip::DeclaredEntry>& files) {
#ifdef _WIN32
  static_cast<void>(game);
  static_cast<void>(files);
  return false;
#else
  for (const testing_zip::DeclaredEntry& f : files) {
    const int fd = ::open((game + "/" + f.name).c_str(), O_RDONLY);
    if (fd < 0) return false;
    ::fdatasync(fd);
    const bool dropped = ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    if (!dropped) return false;
  }
  return true;
#endif
}

// The anchor and the verification with each thread count asked for (0: the
// default), the best of three alternating passes of each.
struct Figures {
  double read = 1e30;
  std::vector<double> verify;         // per thread count asked for
  std::vector<std::uint32_t> threads;  // the threads each really used
  bool intact = true;
};

Figures Measure(const std::string& game, const std::string& archive,
                const std::vector<testing_zip::DeclaredEntry>& files, std::uint64_t bytes, bool cold,
                const std::vector<unsigned>& asked) {
  Figures figures;
  figures.verify.assign(asked.size(), 1e30);
  figures.threads.assign(asked.size(), 0);
  for (int round = 0; round < 3; ++round) {
    if (cold) DropCached(game, files);
    auto start = std::chrono::steady_clock::now();
    const std::uint64_t read = ReadOnce(game, files);
    figures.read = std::min(figures.read, Seconds(std::chrono::steady_clock::now() - start));
    figures.intact = figures.intact && read == bytes;
    for (std::size_t i = 0; i < asked.size(); ++i) {
      if (cold) DropCached(game, files);
      start = std::chrono::steady_clock::now();
      const update::VerifyReport report =
          update::VerifyClient(game.c_str(), archive.c_str(), nullptr, nullptr, asked[i]);
      figures.verify[i] = std::min(figures.verify[i], Seconds(std::chrono::steady_clock::now() - start));
      figures.threads[i] = report.threads;
      figures.intact = figures.intact && report.outcome == update::VerifyOutcome::Verified &&
                       report.damaged.empty() && report.bytesRead == bytes;
    }
  }
  return figures;
}

void Print(const char* label, std::size_t count, std::uint64_t bytes, const std::vector<unsigned>& asked,
           const Figures& f) {
  for (std::size_t i = 0; i < f.verify.size(); ++i)
    std::printf("figure=%s asked=%s threads=%u files=%zu mib=%.0f read_s=%.4f verify_s=%.4f ratio=%.3f\n", label,
                asked[i] == 0 ? "default" : std::to_string(asked[i]).c_str(), static_cast<unsigned>(f.threads[i]),
                count, static_cast<double>(bytes) / kMiB, f.read, f.verify[i], f.verify[i] / f.read);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t sizeMiB = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const fs::path root = fs::temp_directory_path() / "client_verify_bench";
  std::error_code ignored;
  fs::remove_all(root, ignored);
  fs::create_directories(root / "Game" / "data");
  fs::create_directories(root / "Game" / "small");
  const std::string game = (root / "Game").string();

  // Three quarters in 16 MiB files, a quarter in 64 KiB files.
  std::vector<testing_zip::DeclaredEntry> files;
  const std::uint64_t large = std::max<std::uint64_t>(1, sizeMiB * 3 / 4 / 16);
  const std::uint64_t small = sizeMiB / 4 * 16;
  for (std::uint64_t i = 0; i < large; ++i) files.push_back({"data/pack" + std::to_string(i) + ".pak", 16 * kMiB, 0});
  for (std::uint64_t i = 0; i < small; ++i) files.push_back({"small/file" + std::to_string(i) + ".dat", 64 * 1024, 0});
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!WriteFile(game + "/" + files[i].name, files[i].size, i, &files[i].crc)) {
      std::printf("ok=0 could not write %s\n", files[i].name.c_str());
      return 1;
    }
    bytes += files[i].size;
  }
  const std::string archive = (root / "ClientContent").string();
  if (!testing_zip::WriteDeclaredZip(archive, files)) {
    std::printf("ok=0 could not write the archive\n");
    return 1;
  }

  // One reading thread, then the default (when that is more than one).
  std::vector<unsigned> asked = {1};
  if (update::VerifyDefaultThreads() > 1) asked.push_back(0);
  const bool canDrop = DropCached(game, files);
  ReadOnce(game, files);  // warm-up: the warm measurements start from the page cache
  const Figures warm = Measure(game, archive, files, bytes, false, asked);
  const Figures cold = canDrop ? Measure(game, archive, files, bytes, true, asked) : Figures{};
  fs::remove_all(root, ignored);
  if (!warm.intact || !cold.intact) {
    std::printf("ok=0 the verification did not see an intact client\n");
    return 1;
  }
  std::printf("ok=1 default_threads=%u cold=%d\n", update::VerifyDefaultThreads(), canDrop ? 1 : 0);
  Print("warm", files.size(), bytes, asked, warm);
  if (canDrop) Print("cold", files.size(), bytes, asked, cold);
  return 0;
}
