#include "base/crc32.h"

#include <libdeflate.h>

namespace base {

std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size) {
  // libdeflate reads a null buffer as "give the starting value" and would
  // drop `crc`; nothing to add leaves it as it is.
  if (size == 0) return crc;
  return libdeflate_crc32(crc, data, size);
}

}  // namespace base
