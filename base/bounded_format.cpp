#include "base/bounded_format.h"

#include <cstdio>
#include <cstring>

namespace base {

bool FormatIntoV(char* buffer, std::size_t size, const char* format, va_list args) {
  if (buffer == nullptr || size == 0) return false;
  const int needed = std::vsnprintf(buffer, size, format, args);
  if (needed < 0 || static_cast<std::size_t>(needed) >= size) {
    std::memset(buffer, 0, size);
    return false;
  }
  return true;
}

bool FormatInto(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool fitted = FormatIntoV(buffer, size, format, args);
  va_end(args);
  return fitted;
}

bool FormatTruncatedV(char* buffer, std::size_t size, const char* format, va_list args) {
  if (buffer == nullptr || size == 0) return false;
  const int needed = std::vsnprintf(buffer, size, format, args);
  if (needed < 0) {
    buffer[0] = '\0';
    return false;
  }
  buffer[size - 1] = '\0';
  return static_cast<std::size_t>(needed) < size;
}

bool FormatTruncated(char* buffer, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool whole = FormatTruncatedV(buffer, size, format, args);
  va_end(args);
  return whole;
}

bool CopyInto(char* buffer, std::size_t size, const char* source) {
  if (buffer == nullptr || size == 0) return false;
  const std::size_t length = source ? std::strlen(source) : 0;
  if (length >= size) {
    std::memset(buffer, 0, size);
    return false;
  }
  if (length) std::memcpy(buffer, source, length);
  buffer[length] = '\0';
  return true;
}

bool AppendInto(char* buffer, std::size_t size, const char* source) {
  if (buffer == nullptr || size == 0) return false;
  const std::size_t used = strnlen(buffer, size);
  if (used == size) return false;  // not terminated: refuse to touch it
  const std::size_t length = source ? std::strlen(source) : 0;
  if (used + length >= size) return false;
  if (length) std::memcpy(buffer + used, source, length);
  buffer[used + length] = '\0';
  return true;
}

}  // namespace base
