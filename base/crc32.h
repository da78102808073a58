// The CRC-32 of ZIP and gzip (reflected polynomial 0xEDB88320), the one the
// launcher, its tests and the pack tool compute everywhere: archive entries,
// installed files, the commit journal, Unicode Path fields. It runs on the
// processor's carry-less multiply where there is one (libdeflate picks its
// code at run time), many times faster than a table, so that checking a file
// costs little more than reading it. Pieces computed apart join with zlib's
// crc32_combine: it is the same polynomial. Pure: no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>

namespace base {

// The CRC-32 of `size` bytes at `data`, continued from `crc` (0 to start: the
// CRC of nothing). With `size` 0, `data` may be null and `crc` comes back.
std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace base
