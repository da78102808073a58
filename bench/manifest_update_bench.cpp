// Updating 1 % of a 5,000-file client: `manifest_update_bench DOCROOT URL
// WORK` publishes versions 1 and 2 (50 files changed) with their manifests in
// DOCROOT (served at URL), then brings a version-1 client in WORK up to
// version 2 twice: by manifest (ranges of the archive) and by the whole
// archive (its download and staged installation), and prints both times, the
// archive bytes each asked for and the archive's size (bench/run reads the
// line).
#include <curl/curl.h>  // before windows.h: it brings winsock2.h

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "bench/update_run.h"
#include "tests/update/client_release.h"
#include "tests/update/test_support.h"
#include "update/incremental/manifest_update.h"
#include "update/install/commit.h"
#include "update/transfer/http_download.h"
#include "update/trust/descriptor_trust.h"

namespace {

using bench::Paths;
using bench::Since;

constexpr int kFiles = 5000;

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
  if (argc != 4) {
    std::fprintf(stderr, "usage: manifest_update_bench DOCROOT URL WORK\n");
    return 2;
  }
  const std::string docroot = argv[1], base = argv[2], work = argv[3];
  curl_global_init(CURL_GLOBAL_DEFAULT);
  testing_update::ClientTree v1;
  for (int i = 0; i < kFiles; ++i) {
    const std::string folder = "d" + std::to_string(i % 50);
    v1[folder] = "/";
    v1[folder + "\\f" + std::to_string(i) + ".bin"] = testing_update::Noise(3000 + i % 2000, static_cast<unsigned>(i));
  }
  testing_update::ClientTree v2 = v1;
  int changed = 0;
  for (int i = 0; i < kFiles; i += 100, ++changed)
    v2["d" + std::to_string(i % 50) + "\\f" + std::to_string(i) + ".bin"] =
        testing_update::Noise(3000 + i % 2000, static_cast<unsigned>(i + 100000));
  const testing_update::Release old = testing_update::PublishRelease(docroot, "mb-v1.zip", 1, v1, "-", "-");
  const testing_update::Release release = testing_update::PublishRelease(
      docroot, "mb-v2.zip", 2, v2, base + "/mb-v2.zip", base + "/mb-v2.zip.manifest");
  const std::string oldManifest = update::FormatManifest(old.manifest);

  const Paths paths(work + "\\run");
  bool ok = PlantVersion1(paths.root, v1, oldManifest) && ::SetCurrentDirectoryA(paths.root.c_str()) &&
            testing_update::WriteWholeFile(paths.descriptor, release.descriptor);
  update::ArchiveExpectation archive;
  update::ManifestExpectation manifest;
  ok = ok && update::ReadArchiveExpectation(paths.descriptor.c_str(), false, &archive) &&
       update::ReadManifestExpectation(paths.descriptor.c_str(), false, &manifest);
  const std::string archiveUrl = base + "/mb-v2.zip?by-manifest";
  const std::string manifestUrl = base + "/mb-v2.zip.manifest";

  const update::ManifestUpdateSetup setup =
      paths.ManifestSetup(manifest, archive, manifestUrl.c_str(), archiveUrl.c_str());
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
  const ::testing::AssertionResult wholeHolds = testing_update::GameHolds(paths.game, v2);
  if (ok && !wholeHolds) std::fprintf(stderr, "by the whole archive: %s\n", wholeHolds.message());
  ok = ok && wholeHolds;

  std::printf("ok=%d files=%d changed=%d archive_bytes=%zu manifest_bytes=%llu manifest_ms=%.1f whole_ms=%.1f\n",
              ok ? 1 : 0, kFiles, changed, release.archiveSize, static_cast<unsigned long long>(requested),
              manifestMs, wholeMs);
  curl_global_cleanup();
  return ok ? 0 : 1;
}
