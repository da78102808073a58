// An unsigned number appended as decimal digits, without a sign or leading
// zeros, for the line-based records the update writes (journal, manifest).
// Pure.
#pragma once

#include <cstdint>
#include <string>

namespace base {

inline void AppendDecimal(std::string* out, std::uint64_t value) {
  char digits[20];  // 2^64 - 1 has 20 digits
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out->push_back(digits[--n]);
}

}  // namespace base
