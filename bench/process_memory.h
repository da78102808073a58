// This process's working set and its peak, in KiB, for the measuring programs.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstddef>

namespace bench {

struct ProcessMemory {
  std::size_t workingSetKb = 0;
  std::size_t peakKb = 0;
};

inline ProcessMemory MeasureMemory() {
  PROCESS_MEMORY_COUNTERS counters = {};
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return {counters.WorkingSetSize / 1024, counters.PeakWorkingSetSize / 1024};
}

}  // namespace bench
