// Walking ANSI (code page 936) text byte by byte. A trail byte of a double-byte
// character can be 0x5C, the same byte as "\", so a path scanner that splits
// at every 0x5C would cut such a name in two where Windows does not. "/", "."
// and ":" are below the trail range and never part of a double-byte character.
#pragma once

#include <cstddef>

namespace update {

inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Length in bytes (1 or 2) of the character that starts at `text`.
inline std::size_t CharLength(const char* text) {
  const unsigned char lead = static_cast<unsigned char>(text[0]);
  const unsigned char trail = static_cast<unsigned char>(text[1]);
  if (lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F) return 2;
  return 1;
}

}  // namespace update
