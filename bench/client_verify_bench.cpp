// Verification cost against the anchor of reading the same files once: a
// client of large and small files (1 GiB unless a size in MiB is given), read
// with large blocks and then verified against an archive that declares their
// sizes and CRCs, alternately, in one run. Warm: the files are in the page
// cache after a first read, which leaves the checksum itself as the whole
// difference. Cold (Linux only): the files' cached pages are dropped before
// every pass, so both read from the disk, as a player's first repair does.
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

struct Figures {
  double read = 0;
  double verify = 0;
  bool intact = true;
};

// Alternating passes; the best of three of each.
Figures Measure(const std::string& game, const std::string& archive,
                const std::vector<testing_zip::DeclaredEntry>& files, std::uint64_t bytes, bool cold) {
  std::vector<double> reads, verifies;
  Figures figures;
  for (int round = 0; round < 3; ++round) {
    if (cold) DropCached(game, files);
    auto start = std::chrono::steady_clock::now();
    const std::uint64_t read = ReadOnce(game, files);
    reads.push_back(Seconds(std::chrono::steady_clock::now() - start));
    if (cold) DropCached(game, files);
    start = std::chrono::steady_clock::now();
    const update::VerifyReport report = update::VerifyClient(game.c_str(), archive.c_str());
    verifies.push_back(Seconds(std::chrono::steady_clock::now() - start));
    figures.intact = figures.intact && read == bytes && report.outcome == update::VerifyOutcome::Verified &&
                     report.damaged.empty() && report.bytesRead == bytes;
  }
  figures.read = *std::min_element(reads.begin(), reads.end());
  figures.verify = *std::min_element(verifies.begin(), verifies.end());
  return figures;
}

void Print(const char* label, std::size_t count, std::uint64_t bytes, const Figures& f) {
  const double mib = static_cast<double>(bytes) / kMiB;
  std::printf("%s: %zu files, %.0f MiB: read once %.3f s (%.0f MiB/s), verify %.3f s (%.0f MiB/s), ratio %.2f\n",
              label, count, mib, f.read, mib / f.read, f.verify, mib / f.verify, f.verify / f.read);
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
      std::printf("could not write %s\n", files[i].name.c_str());
      return 1;
    }
    bytes += files[i].size;
  }
  const std::string archive = (root / "ClientContent").string();
  if (!testing_zip::WriteDeclaredZip(archive, files)) {
    std::printf("could not write the archive\n");
    return 1;
  }

  const bool canDrop = DropCached(game, files);
  ReadOnce(game, files);  // warm-up: the warm measurements start from the page cache
  const Figures warm = Measure(game, archive, files, bytes, false);
  const Figures cold = canDrop ? Measure(game, archive, files, bytes, true) : Figures{};
  fs::remove_all(root, ignored);
  if (!warm.intact || !cold.intact) {
    std::printf("the verification did not see an intact client\n");
    return 1;
  }
  Print("warm", files.size(), bytes, warm);
  if (canDrop) Print("cold", files.size(), bytes, cold);
  std::printf("goal: verify <= 1.5 x read once\n");
  return 0;
}
