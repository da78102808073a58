#include "update/download_log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "base/bounded_format.h"
#include "base/guards.h"
#include "update/directory_levels.h"
#include "update/download_log_testing.h"

namespace update {

namespace {

std::mutex g_logMutex;              // the callers never overlap; this only makes sure of it
char g_logPath[kPathSize] = {};     // empty until the first text of the run
bool g_logPathChosen = false;       // set even when the path could not be made

// Chooses the path and empties the file, once per process run. A current
// directory too long for the path leaves the path empty: the log is then off.
void ChooseLogPath() {
  if (g_logPathChosen) return;
  g_logPathChosen = true;
  char directory[kPathSize] = {};
  const DWORD length = ::GetCurrentDirectoryA(sizeof directory, directory);
  if (length == 0 || length >= sizeof directory) return;
  if (!base::FormatInto(g_logPath, sizeof g_logPath, "%s\\download.log", directory)) return;
  base::UniqueFile emptied(std::fopen(g_logPath, "wb"));
}

void Append(const char* text, std::size_t length) {
  ChooseLogPath();
  if (g_logPath[0] == '\0') return;
  // Binary: the bytes land exactly as formatted (no CR added before LF).
  base::UniqueFile file(std::fopen(g_logPath, "ab+"));
  if (!file) return;
  std::fwrite(text, 1, length, file.Get());
}

}  // namespace

void WriteLog(const char* format, ...) {
  char text[kLogTextSize] = {};
  va_list args;
  va_start(args, format);
  base::FormatTruncatedV(text, sizeof text, format, args);
  va_end(args);
  std::lock_guard<std::mutex> lock(g_logMutex);
  Append(text, std::strlen(text));
}

void WriteLogText(const char* text, std::size_t length) {
  if (text == nullptr) return;
  if (length > kLogTextSize - 1) length = kLogTextSize - 1;
  std::lock_guard<std::mutex> lock(g_logMutex);
  Append(text, length);
}

void ResetDownloadLogForTesting() {
  std::lock_guard<std::mutex> lock(g_logMutex);
  std::memset(g_logPath, 0, sizeof g_logPath);
  g_logPathChosen = false;
}

}  // namespace update
