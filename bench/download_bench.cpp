// Download cost: `download_bench URL FILE` runs the launcher's DownloadFile
// (with a progress record, as the worker does) and prints its time, the
// bytes written and the peak working set above the process's working set at
// the start (bench/run reads the line). `download_bench URL FILE CONNECTIONS
// SHA256 SIZE` takes the archive's own path instead: FetchFile into a part
// bound to the digest (FILE, its record FILE.sha256), checked as a whole,
// over CONNECTIONS connections at once (in segments when more than one).
#include <curl/curl.h>  // before windows.h: it brings winsock2.h

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/progress_targets.h"
#include "bench/process_memory.h"
#include "update/transfer/body_checks.h"
#include "update/transfer/http_download.h"

namespace {

bool FetchArchive(const char* url, const char* file, const char* connections, const char* digest,
                  const char* size) {
  update::ArchiveExpectation expected;
  expected.hasDigest = update::ParseSha256Hex(digest, &expected.digest);
  expected.hasSize = update::ParseByteCount(size, &expected.size);
  if (!expected.hasDigest || !expected.hasSize) return false;
  const std::string record = std::string(file) + ".sha256";
  ::DeleteFileA(file);
  ::DeleteFileA(record.c_str());
  update::PartFiles part;
  part.recordPath = record.c_str();
  part.expected = expected;
  update::TransferLimits limits;
  limits.connections = static_cast<std::int32_t>(std::strtol(connections, nullptr, 10));
  update::ArchiveBodyCheck check(expected);
  progress::ProgressTargets targets;
  const bool fetched = update::FetchFile(file, url, &targets, limits, update::RetryTiming{}, &check, &part);
  ::DeleteFileA(record.c_str());
  return fetched && !check.Refused();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 6) {
    std::fprintf(stderr, "usage: download_bench URL FILE [CONNECTIONS SHA256 SIZE]\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  progress::ProgressTargets targets;
  const bench::ProcessMemory before = bench::MeasureMemory();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = argc == 3 ? update::DownloadFile(argv[2], argv[1], &targets)
                            : FetchArchive(argv[1], argv[2], argv[3], argv[4], argv[5]);
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const bench::ProcessMemory after = bench::MeasureMemory();
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ::GetFileAttributesExA(argv[2], GetFileExInfoStandard, &data);
  const unsigned long long bytes = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  std::printf("ok=%d ms=%.1f bytes=%llu start_ws_kb=%zu peak_ws_kb=%zu peak_above_start_kb=%zu\n", ok ? 1 : 0, ms,
              bytes, before.workingSetKb, after.peakKb,
              after.peakKb > before.workingSetKb ? after.peakKb - before.workingSetKb : 0);
  curl_global_cleanup();
  return ok ? 0 : 1;
}
