#include "base/new_file.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace base {

std::FILE* OpenNewFile(const char* path) {
#ifdef _WIN32
  // Most paths are new (a staging folder's): the old file is looked for
  // only when the creation finds one.
  const auto create = [path] {
    return ::CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE handle = create();
  if (handle == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_FILE_EXISTS && ::DeleteFileA(path))
    handle = create();
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  // The descriptor owns the handle from here, and the stream the descriptor.
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (descriptor == -1) {
    ::CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(descriptor, "wb");
  if (file == nullptr) _close(descriptor);
  return file;
#else
  std::remove(path);
  return std::fopen(path, "wb");
#endif
}

}  // namespace base
