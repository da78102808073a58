#include "base/file_tree.h"

#include <vector>

#include "base/guards.h"

namespace base {

namespace {

void VisitBelow(const std::string& root, const std::string& below, const TreeVisitor& visit) {
  const std::string directory = below.empty() ? root : root + "\\" + below;
  WIN32_FIND_DATAA found;
  const FindHandle search(::FindFirstFileA((directory + "\\*").c_str(), &found));
  if (!search.Valid()) return;
  do {
    const std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    const std::string relative = below.empty() ? name : below + "\\" + name;
    visit(relative, found);
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) VisitBelow(root, relative, visit);
  } while (::FindNextFileA(search.Get(), &found));
}

}  // namespace

void VisitTree(const std::string& root, const TreeVisitor& visit) { VisitBelow(root, "", visit); }

void RemoveTree(const std::string& path) {
  if (path.empty()) return;
  // Files go as they are found; directories once emptied, deepest first.
  std::vector<std::string> directories;
  VisitTree(path, [&](const std::string& relative, const WIN32_FIND_DATAA& found) {
    const std::string full = path + "\\" + relative;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      directories.push_back(full);
    } else {
      ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      ::DeleteFileA(full.c_str());
    }
  });
  for (auto it = directories.rbegin(); it != directories.rend(); ++it) ::RemoveDirectoryA(it->c_str());
  ::RemoveDirectoryA(path.c_str());
}

}  // namespace base
