// Rebuilding a large file from a small change: `chunk_rebuild_bench
// OLD_CLIENT OLD_MANIFEST DESCRIPTOR WORK` plants the client of OLD_CLIENT (a
// folder "data" with one file "big.pak") in WORK as the launcher leaves it,
// with OLD_MANIFEST as its installed manifest, then brings it to the version
// DESCRIPTOR announces twice: by manifest (the file rebuilt from its kept
// chunks and the fetched ones) and by the whole archive (its download and
// staged installation). Prints both times, the archive bytes asked for and
// the archive's size (bench/run reads the line).
#include <curl/curl.h>  // before windows.h: it brings winsock2.h

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench/update_run.h"
#include "tests/update/test_support.h"
#include "update/incremental/manifest_update.h"
#include "update/install/commit.h"
#include "update/transfer/http_download.h"
#include "update/trust/descriptor_trust.h"
#include "update/verify/file_digest.h"

namespace {

using bench::Paths;
using bench::Since;

bool Plant(const Paths& paths, const std::string& oldClient, const std::string& manifest) {
  ::SetCurrentDirectoryA("\\");  // the run's folder cannot be removed while current
  testing_update::RemoveTree(paths.root);
  const std::string record = paths.record;
  return ::CreateDirectoryA(paths.root.c_str(), nullptr) && ::CreateDirectoryA(paths.temp.c_str(), nullptr) &&
         ::CreateDirectoryA(paths.game.c_str(), nullptr) &&
         ::CreateDirectoryA((paths.game + "\\data").c_str(), nullptr) &&
         ::CopyFileA((oldClient + "\\data\\big.pak").c_str(), (paths.game + "\\data\\big.pak").c_str(), FALSE) &&
         testing_update::WriteWholeFile(paths.installed, manifest) &&
         ::WritePrivateProfileStringA("Launcher", "Version", "1", record.c_str()) &&
         ::WritePrivateProfileStringA("Launcher", "ManifestSha256", testing_update::Sha256Hex(manifest).c_str(),
                                      record.c_str()) &&
         ::SetCurrentDirectoryA(paths.root.c_str());
}

// Whether Game's file is the new version's, by the digest the manifest gives.
bool HoldsNewFile(const Paths& paths, const update::Manifest& manifest) {
  update::Sha256Digest digest;
  for (const update::ManifestEntry& entry : manifest.entries) {
    if (entry.name != "data/big.pak") continue;
    return update::FileSha256((paths.game + "\\data\\big.pak").c_str(), &digest) &&
           std::memcmp(digest.bytes, entry.sha256.bytes, sizeof digest.bytes) == 0;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: chunk_rebuild_bench OLD_CLIENT OLD_MANIFEST DESCRIPTOR WORK\n");
    return 2;
  }
  const std::string oldClient = argv[1], oldManifest = testing_update::ReadWholeFile(argv[2]);
  const std::string descriptor = argv[3], work = argv[4];
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const Paths paths(work + "\\run");
  char archiveUrl[1024] = {};
  char manifestUrl[1024] = {};
  ::GetPrivateProfileStringA("Launcher", "Url", "", archiveUrl, sizeof archiveUrl, descriptor.c_str());
  ::GetPrivateProfileStringA("Launcher", "Manifest", "", manifestUrl, sizeof manifestUrl, descriptor.c_str());
  update::ArchiveExpectation archive;
  update::ManifestExpectation manifest;
  bool ok = !oldManifest.empty() && update::ReadArchiveExpectation(descriptor.c_str(), false, &archive) &&
            update::ReadManifestExpectation(descriptor.c_str(), false, &manifest) && Plant(paths, oldClient, oldManifest);
  if (!ok) std::fprintf(stderr, "the old client could not be planted or the descriptor read\n");

  const update::ManifestUpdateSetup setup = paths.ManifestSetup(manifest, archive, manifestUrl, archiveUrl);
  std::uint64_t requested = 0;
  std::uint64_t archiveSize = 0;
  update::Manifest target;
  auto start = std::chrono::steady_clock::now();
  if (ok) {
    update::ManifestUpdate byManifest(setup);
    ok = byManifest.LoadManifest() && byManifest.Apply(2) == update::ManifestResult::Installed;
    update::EndCommit(paths.Place());
    requested = byManifest.RequestedBytes();
  }
  const double rebuildMs = Since(start);
  // The manifest it used is still in Temp: the new file's digest is in it.
  const std::string text = testing_update::ReadWholeFile(paths.temp + "\\ClientContent.manifest");
  ok = ok && update::ParseManifest(text.data(), text.size(), &target) == update::ManifestParse::Parsed;
  archiveSize = target.archiveSize;
  if (ok && !HoldsNewFile(paths, target)) {
    std::fprintf(stderr, "by manifest: Game's file is not the new one\n");
    ok = false;
  }

  ok = ok && Plant(paths, oldClient, oldManifest);
  const std::string archivePath = paths.temp + "\\ClientContent";
  const std::string wholeUrl = std::string(archiveUrl) + "?whole";
  start = std::chrono::steady_clock::now();
  ok = ok && update::DownloadFile(archivePath.c_str(), wholeUrl.c_str()) &&
       update::InstallUpdate(paths.Place(), archivePath.c_str(), 2) == update::InstallResult::Installed;
  update::EndCommit(paths.Place());
  const double wholeMs = Since(start);
  if (ok && !HoldsNewFile(paths, target)) {
    std::fprintf(stderr, "by the whole archive: Game's file is not the new one\n");
    ok = false;
  }
  ::SetCurrentDirectoryA("\\");
  testing_update::RemoveTree(paths.root);
  std::printf("ok=%d archive_bytes=%llu requested_bytes=%llu rebuild_ms=%.1f whole_ms=%.1f\n", ok ? 1 : 0,
              static_cast<unsigned long long>(archiveSize), static_cast<unsigned long long>(requested), rebuildMs,
              wholeMs);
  curl_global_cleanup();
  return ok ? 0 : 1;
}
