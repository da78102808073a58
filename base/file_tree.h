// Walking and removing directory trees (Windows).
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace base {

// Called for every entry below a root with its path relative to the root
// ("a\b.txt", no leading backslash) and what the search found for it.
using TreeVisitor = std::function<void(const std::string& relative, const WIN32_FIND_DATAA& found)>;

// Visits every file and directory below `root`, a directory before what it
// holds. A root that cannot be searched has nothing below it.
void VisitTree(const std::string& root, const TreeVisitor& visit);

// Removes a directory with everything below it (read-only files included).
// Best effort: what cannot be removed stays.
void RemoveTree(const std::string& path);

}  // namespace base
