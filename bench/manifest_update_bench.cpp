// Updating 1 % of a client: `manifest_update_bench DOCROOT URL WORK [FILES
// [CONNECTIONS]]` publishes versions 1 and 2 of a client of FILES small files
// (5,000 unless given; 1 % of them changed, and with fewer than 5,000 files
// as many again added and dropped) with their manifests in DOCROOT (served at
// URL), then brings a version-1 client in WORK up to version 2 twice: by
// manifest (ranges of the archive, over CONNECTIONS connections, 4 unless
// given) and by the whole archive (its download and staged installation),
// and prints both times, the archive bytes each asked for, the changed spans'
// bytes and the archive's size (bench/run reads the line).
#include <curl/curl.h>  // before windows.h: it brings winsock2.h

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <string>

#include "bench/update_run.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "update/incremental/manifest_update.h"
#include "update/install/commit.h"
#include "update/transfer/http_download.h"
#include "update/transfer/line_meter.h"
#include "update/trust/descriptor_trust.h"

namespace {

using bench::Paths;
using bench::Since;


// A version-1 client as the launcher leaves it, in `root`.
bool PlantVersion1(const std::string& root, const testing_update::ClientTree& tree, const std::string& manifest) {
  // The run's folder is the current directory, which cannot be removed itself.
  ::SetCurrentDirectoryA("\\");
  testing_update::RemoveTree(root);
  if (!::CreateDirectoryA(root.c_str(), nullptr) || !::CreateDirectoryA((root + "\\Temp").c_str(), nullptr)) return false;
  const std::string game = root + "\\Game";
  ::CreateDirectoryA(game.c_str(), nullptr);
  for (const auto& item : tree)
    if (item.second == "/" && !::CreateDirectoryA((game + "\\" + item.first).c_str(), nullptr)) return false;
  for (const auto& item : tree)
    if (item.second != "/" && !testing_update::WriteWholeFile(game + "\\" + item.first, item.second)) return false;
  const std::string record = root + "\\install.cfg";
  return testing_update::WriteWholeFile(root + "\\install.manifest", manifest) &&
         ::WritePrivateProfileStringA("Launcher", "Version", "1", record.c_str()) &&
         ::WritePrivateProfileStringA("Launcher", "ManifestSha256", testing_update::Sha256Hex(manifest).c_str(),
                                      record.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 6) {
    std::fprintf(stderr, "usage: manifest_update_bench DOCROOT URL WORK [FILES [CONNECTIONS]]\n");
    return 2;
  }
  const std::string docroot = argv[1], base = argv[2], work = argv[3];
  const int kFiles = argc > 4 ? static_cast<int>(std::strtol(argv[4], nullptr, 10)) : 5000;
  const int connections = argc > 5 ? static_cast<int>(std::strtol(argv[5], nullptr, 10)) : 4;
  if (kFiles < 100 || connections < 1) return 2;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  testing_update::ClientTree v1;
  for (int i = 0; i < kFiles; ++i) {
    const std::string folder = "d" + std::to_string(i % 50);
    v1[folder] = "/";
    v1[folder + "\\f" + std::to_string(i) + ".bin"] = testing_update::Noise(3000 + i % 2000, static_cast<unsigned>(i));
  }
  testing_update::ClientTree v2 = v1;
  int changed = 0;
  // With 5,000 files every 100th changes (all in one folder, so their spans
  // lie close together); with fewer, the changed files are spread over the
  // folders as a patch's usually are.
  for (int k = 0; k < kFiles / 100; ++k, ++changed) {
    const int i = kFiles >= 5000 ? 100 * k : (397 * k + 13) % kFiles;
    v2["d" + std::to_string(i % 50) + "\\f" + std::to_string(i) + ".bin"] =
        testing_update::Noise(3000 + i % 2000, static_cast<unsigned>(i + 100000));
  }
  std::vector<std::string> added;
  for (int i = 0; kFiles < 5000 && i < 3; ++i) {
    v2.erase("d" + std::to_string((37 * i + 11) % 50) + "\\f" + std::to_string(37 * i + 11) + ".bin");
    added.push_back("d" + std::to_string(i) + "\\new" + std::to_string(i) + ".bin");
    v2[added.back()] = testing_update::Noise(5000, static_cast<unsigned>(i + 200000));
  }
  const testing_update::Release old = testing_update::PublishRelease(docroot, "mb-v1.zip", 1, v1, "-", "-");
  const testing_update::Release release = testing_update::PublishRelease(
      docroot, "mb-v2.zip", 2, v2, base + "/mb-v2.zip", base + "/mb-v2.zip.manifest");
  const std::string oldManifest = update::FormatManifest(old.manifest);

  const Paths paths(work + "\\run");
  update::LineMeter line;  // as a run has it: the descriptor's and the manifest's transfers are the first measures
  update::TransferLimits limits;
  limits.meter = &line;
  limits.connections = connections;
  // The descriptor comes over the line, as in a run.
  const std::string descriptorUrl = base + "/mb-v2.cfg";
  bool ok = PlantVersion1(paths.root, v1, oldManifest) && ::SetCurrentDirectoryA(paths.root.c_str()) &&
            testing_update::WriteWholeFile(docroot + "\\mb-v2.cfg", release.descriptor) &&
            update::DownloadFile(paths.descriptor.c_str(), descriptorUrl.c_str(), nullptr, limits);
  update::ArchiveExpectation archive;
  update::ManifestExpectation manifest;
  ok = ok && update::ReadArchiveExpectation(paths.descriptor.c_str(), false, &archive) &&
       update::ReadManifestExpectation(paths.descriptor.c_str(), false, &manifest);
  const std::string archiveUrl = base + "/mb-v2.zip?by-manifest";
  const std::string manifestUrl = base + "/mb-v2.zip.manifest";

  update::ManifestUpdateSetup setup = paths.ManifestSetup(manifest, archive, manifestUrl.c_str(), archiveUrl.c_str());
  setup.limits = limits;
  // The spans an update cannot do without: those of the changed and added files.
  std::uint64_t spanBytes = 0;
  for (const update::ManifestEntry& entry : release.manifest.entries) {
    if (entry.directory) continue;
    bool same = false;
    for (const update::ManifestEntry& before : old.manifest.entries)
      if (before.name == entry.name) same = before.size == entry.size && before.crc == entry.crc;
    if (!same) spanBytes += entry.spanLength;
  }
  std::uint64_t requested = 0;
  auto start = std::chrono::steady_clock::now();
  if (!ok) std::fprintf(stderr, "version 1 could not be planted or the descriptor read\n");
  if (ok) {
    update::ManifestUpdate byManifest(setup);
    ok = byManifest.LoadManifest() && byManifest.Apply(2) == update::ManifestResult::Installed;
    if (ok) byManifest.KeepAsInstalled();
    update::EndCommit(paths.Place());
    requested = byManifest.RequestedBytes();
  }
  const double manifestMs = Since(start);
  const ::testing::AssertionResult byManifestHolds = testing_update::GameHolds(paths.game, v2);
  if (ok && !byManifestHolds) std::fprintf(stderr, "by manifest: %s\n", byManifestHolds.message());
  ok = ok && byManifestHolds;

  // The same change by the whole archive: its download and staged installation.
  ok = ok && PlantVersion1(paths.root, v1, oldManifest) && ::SetCurrentDirectoryA(paths.root.c_str());
  const std::string wholeUrl = base + "/mb-v2.zip?whole";
  const std::string archivePath = paths.temp + "\\ClientContent";
  start = std::chrono::steady_clock::now();
  ok = ok && update::DownloadFile(archivePath.c_str(), wholeUrl.c_str()) &&
       update::InstallUpdate(paths.Place(), archivePath.c_str(), 2) == update::InstallResult::Installed;
  update::EndCommit(paths.Place());
  const double wholeMs = Since(start);
  // The whole archive brings every file of version 2 and removes none.
  testing_update::ClientTree wholeTree = v2;
  for (const auto& item : v1) wholeTree.emplace(item.first, item.second);
  const ::testing::AssertionResult wholeHolds = testing_update::GameHolds(paths.game, wholeTree);
  if (ok && !wholeHolds) std::fprintf(stderr, "by the whole archive: %s\n", wholeHolds.message());
  ok = ok && wholeHolds;

  std::printf(
      "ok=%d files=%d changed=%d added=%zu archive_bytes=%zu manifest_bytes=%llu span_bytes=%llu gap=%llu "
      "speed_kbps=%.0f first_byte_ms=%.2f connections=%d manifest_ms=%.1f whole_ms=%.1f\n",
      ok ? 1 : 0, kFiles, changed, added.size(), release.archiveSize, static_cast<unsigned long long>(requested),
      static_cast<unsigned long long>(spanBytes), static_cast<unsigned long long>(line.Gap()), line.BytesPerSecond() / 1024,
      line.FirstByteSeconds() * 1000, connections, manifestMs,
      wholeMs);
  curl_global_cleanup();
  return ok ? 0 : 1;
}
