#include "base/stream_position.h"

namespace base {

bool StreamSize(FILE* file, std::uint64_t* size) {
#ifdef _WIN32
  if (_fseeki64(file, 0, SEEK_END) != 0) return false;
  const long long end = _ftelli64(file);
  if (end < 0 || _fseeki64(file, 0, SEEK_SET) != 0) return false;
#else
  if (fseeko(file, 0, SEEK_END) != 0) return false;
  const off_t end = ftello(file);
  if (end < 0 || fseeko(file, 0, SEEK_SET) != 0) return false;
#endif
  *size = static_cast<std::uint64_t>(end);
  return true;
}

bool SeekTo(FILE* file, std::uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

}  // namespace base
