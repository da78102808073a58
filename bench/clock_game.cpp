// Stands in for the game client in the latency measurement: records, next to
// itself in clock-game.txt, the moment it started (Unix milliseconds, the
// clock page script's Date uses) and its command line, then ends.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/bounded_format.h"
#include "base/guards.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  FILETIME now{};
  ::GetSystemTimePreciseAsFileTime(&now);
  const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  const double unixMs = static_cast<double>(ticks - 116444736000000000ULL) / 10000.0;
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, sizeof self);
  char* slash = std::strrchr(self, '\\');
  if (slash != nullptr) *slash = '\0';
  char record[MAX_PATH] = {};
  if (!base::FormatInto(record, sizeof record, "%s\\clock-game.txt", self)) return 1;
  base::UniqueFile out(std::fopen(record, "wb"));
  if (!out) return 1;
  std::fprintf(out.Get(), "started_ms=%.3f\ncommand=%s\n", unixMs, ::GetCommandLineA());
  return 0;
}
