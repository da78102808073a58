// File-system helpers shared by the Windows test programs.
#pragma once

#include <string>

namespace testing_files {

// Removes a directory with everything below it (read-only files included).
void RemoveTree(const std::string& path);

}  // namespace testing_files
