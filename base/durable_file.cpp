#include "base/durable_file.h"

#include <windows.h>

#include <algorithm>

#include "base/bounded_format.h"
#include "base/guards.h"

namespace base {

namespace {

bool WriteAndFlush(const char* temporary, const std::string& bytes) {
  UniqueHandle file(::CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file.Get(), bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
    done += written;
  }
  return ::FlushFileBuffers(file.Get()) != 0;
}

}  // namespace

bool WriteFileDurably(const char* path, const std::string& bytes) {
  char temporary[MAX_PATH];
  if (!FormatInto(temporary, sizeof temporary, "%s.tmp", path)) return false;
  if (WriteAndFlush(temporary, bytes) &&
      ::MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return true;
  ::DeleteFileA(temporary);
  return false;
}

}  // namespace base
