#include "base/make_directory.h"

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <direct.h>
#endif

namespace base {

namespace {

bool IsDirectory(const char* path) {
  struct stat info;
  return ::stat(path, &info) == 0 && (info.st_mode & S_IFMT) == S_IFDIR;
}

}  // namespace

bool MakeDirectory(const char* path) {
#ifdef _WIN32
  const int made = ::_mkdir(path);
#else
  const int made = ::mkdir(path, 0755);
#endif
  return made == 0 || IsDirectory(path);
}

}  // namespace base
