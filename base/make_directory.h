// One directory level made with the C runtime, for the window-free cores that
// write files natively too (the ANSI code page on Windows). Pure.
#pragma once

namespace base {

// Makes `path` (its parent must exist). True when it exists as a directory afterwards.
bool MakeDirectory(const char* path);

}  // namespace base
