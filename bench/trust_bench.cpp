// What a signed update costs over an unsigned one: whole worker runs against
// nginx with the same archive, once as an unsigned descriptor (no Sha256, the
// tick query) and once signed (signature fetched and checked, the archive
// hashed while it streams and fetched by its digest). Needs the test servers
// (scripts/test-servers). Prints the median of each and their ratio.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/update/test_support.h"
#include "tools/pack/signing.h"
#include "update/trust/archive_digest.h"
#include "update/download_log_testing.h"
#include "update/update_worker.h"

namespace {

using namespace testing_update;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// One whole run in a fresh directory; milliseconds.
double TimedRun(const std::string& versionUrl, const std::string& publicKey) {
  ScratchDir dir;
  ::SetCurrentDirectoryA(dir.Path().c_str());
  update::ResetDownloadLogForTesting();
  update::WorkerSetup setup;
  setup.versionCdnUrl = versionUrl.c_str();
  setup.publicKey = publicKey.c_str();
  update::GameParameters parameters;
  const auto start = std::chrono::steady_clock::now();
  update::RunUpdate(setup, parameters);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  if (::GetPrivateProfileIntA("Launcher", "Version", 0, (dir / "install.cfg").c_str()) != 2)
    std::printf("run failed: %s\n", ReadWholeFile(dir / "download.log").c_str());
  ::SetCurrentDirectoryA("C:\\");
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, static_cast<int>(std::strtol(argv[1], nullptr, 10))) : 5;
  ServedDir served;
  // 16 MiB in 64 stored entries, data that does not compress.
  std::vector<ZipEntry> entries;
  std::uint32_t x = 12345;
  for (int e = 0; e < 64; ++e) {
    std::string data(256 * 1024, '\0');
    for (char& c : data) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    entries.push_back({"data/part" + std::to_string(e) + ".pak", data, 0x20, true});
  }
  if (!WriteZip(served / "ClientContent", entries)) return 1;
  const std::string bytes = ReadWholeFile(served / "ClientContent");

  update::ArchiveVerifier hasher{update::ArchiveExpectation{}};
  const auto hashStart = std::chrono::steady_clock::now();
  for (std::size_t at = 0; at < bytes.size(); at += 16384)  // in the pieces curl hands over
    hasher.OnBody(bytes.data() + at, std::min<std::size_t>(16384, bytes.size() - at));
  hasher.Finish();
  const double hashMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - hashStart).count();
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(hasher.ReceivedDigest(), hex);

  const std::string plain =
      "[Launcher]\r\nVersion=2\r\nUrl=" + HttpUrl(served.UrlPath("ClientContent")) + "\r\n";
  const std::string facts = plain + "Sha256=" + hex + "\r\nSize=" + std::to_string(bytes.size()) + "\r\n";
  pack::KeyPair key;
  if (!pack::GenerateKeyPair(&key)) return 1;
  WriteWholeFile(served / "plain.cfg", plain);
  WriteWholeFile(served / "signed.cfg", facts);
  WriteWholeFile(served / "signed.cfg.minisig", pack::SignPrehashed(facts, key, "version:2"));
  const std::string keyLine = pack::PublicKeyLine(key.publicKey);

  std::vector<double> unsignedMs;
  std::vector<double> signedMs;
  TimedRun(HttpUrl(served.UrlPath("plain.cfg")), "");  // warm caches
  for (int i = 0; i < runs; ++i) {
    unsignedMs.push_back(TimedRun(HttpUrl(served.UrlPath("plain.cfg")), ""));
    signedMs.push_back(TimedRun(HttpUrl(served.UrlPath("signed.cfg")), keyLine));
  }
  const double u = Median(unsignedMs);
  const double s = Median(signedMs);
  std::printf("whole run, %zu-byte archive, median of %d: unsigned %.1f ms, signed %.1f ms, "
              "signed/unsigned %.3f (+%.1f ms)\n",
              bytes.size(), runs, u, s, s / u, s - u);
  std::printf("SHA-256 of the archive alone, in memory: %.1f ms\n", hashMs);
  return 0;
}
