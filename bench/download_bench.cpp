// Download cost: `download_bench URL FILE` runs the launcher's DownloadFile
// (with a progress record, as the worker does) and prints its time, the
// bytes written and the peak working set above the process's working set at
// the start (bench/run reads the line).
#include <curl/curl.h>  // before windows.h: it brings winsock2.h

#include <windows.h>

#include <chrono>
#include <cstdio>

#include "base/progress_targets.h"
#include "bench/process_memory.h"
#include "update/transfer/http_download.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: download_bench URL FILE\n");
    return 2;
  }
  curl_global_init(CURL_GLOBAL_DEFAULT);
  progress::ProgressTargets targets;
  const bench::ProcessMemory before = bench::MeasureMemory();
  const auto start = std::chrono::steady_clock::now();
  const bool ok = update::DownloadFile(argv[2], argv[1], &targets);
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
