// A file being written with the running size, CRC-32 and SHA-256 of what went
// into it, so that a staged file is checked as a whole without reading it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/crc32.h"
#include "update/trust/sha256.h"

namespace update {

struct CheckedOutput {
  FILE* file = nullptr;
  std::uint64_t size = 0;
  std::uint32_t crc = 0;
  Sha256 hash;

  bool Write(const char* data, std::size_t n) {
    size += n;
    crc = base::Crc32(crc, data, n);
    hash.Update(data, n);
    return std::fwrite(data, 1, n, file) == n;
  }
};

}  // namespace update
