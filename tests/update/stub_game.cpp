// Stands in for the game client "TLVR.exe" in the worker tests: records its
// command line and working directory in launch.txt next to itself, then ends.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "base/bounded_format.h"
#include "base/guards.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char self[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, self, sizeof self);
  char* slash = std::strrchr(self, '\\');
  if (slash != nullptr) *slash = '\0';
  char record[MAX_PATH] = {};
  char partial[MAX_PATH] = {};
  if (!base::FormatInto(record, sizeof record, "%s\\launch.txt", self)) return 1;
  if (!base::FormatInto(partial, sizeof partial, "%s\\launch.tmp", self)) return 1;
  char directory[MAX_PATH] = {};
  ::GetCurrentDirectoryA(sizeof directory, directory);
  {
    base::UniqueFile out(std::fopen(partial, "wb"));
    if (!out) return 1;
    std::fprintf(out.Get(), "%s\n%s\n", ::GetCommandLineA(), directory);
  }
  // Appears whole or not at all, so a test never reads it half-written.
  ::MoveFileExA(partial, record, MOVEFILE_REPLACE_EXISTING);
  return 0;
}
