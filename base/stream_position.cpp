#include "base/stream_position.h"

namespace base {

namespace {

int CrtOrigin(SeekOrigin origin) {
  switch (origin) {
    case SeekOrigin::Start: return SEEK_SET;
    case SeekOrigin::Current: return SEEK_CUR;
    case SeekOrigin::End: return SEEK_END;
  }
  return SEEK_SET;
}

}  // namespace

bool SeekBy(FILE* file, std::int64_t offset, SeekOrigin origin) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<long long>(offset), CrtOrigin(origin)) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), CrtOrigin(origin)) == 0;
#endif
}

bool StreamPosition(FILE* file, std::uint64_t* position) {
#ifdef _WIN32
  const long long at = _ftelli64(file);
#else
  const off_t at = ftello(file);
#endif
  if (at < 0) return false;
  *position = static_cast<std::uint64_t>(at);
  return true;
}

bool StreamSize(FILE* file, std::uint64_t* size) {
  std::uint64_t end = 0;
  if (!SeekBy(file, 0, SeekOrigin::End) || !StreamPosition(file, &end) || !SeekBy(file, 0, SeekOrigin::Start))
    return false;
  *size = end;
  return true;
}

bool SeekTo(FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return SeekBy(file, static_cast<std::int64_t>(offset), SeekOrigin::Start);
}

}  // namespace base
