#include "update/install/entry_name.h"

#include <cstring>

#include "update/dbcs.h"

namespace update {

namespace {

// A level that Windows may resolve to the parent: only dots and spaces, with
// at least two dots.
bool IsParentLike(const char* begin, const char* end) {
  int dots = 0;
  for (const char* p = begin; p != end; ++p) {
    if (*p == '.') ++dots;
    else if (*p != ' ') return false;
  }
  return dots >= 2;
}

}  // namespace

bool IsDeviceName(const char* begin, const char* end) {
  const char* stem = begin;
  while (stem != end && *stem != '.') ++stem;
  while (stem != begin && stem[-1] == ' ') --stem;
  const std::size_t length = static_cast<std::size_t>(stem - begin);
  auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  char name[5] = {};
  if (length < 3 || length > 4) return false;
  for (std::size_t i = 0; i < length; ++i) name[i] = upper(begin[i]);
  if (length == 3)
    return std::strcmp(name, "CON") == 0 || std::strcmp(name, "PRN") == 0 || std::strcmp(name, "AUX") == 0 ||
           std::strcmp(name, "NUL") == 0;
  return (std::strncmp(name, "COM", 3) == 0 || std::strncmp(name, "LPT", 3) == 0) && name[3] >= '1' &&
         name[3] <= '9';
}

bool IsDirectoryEntry(const char* name, std::uint32_t externalAttributes) {
  if ((externalAttributes & kDirectoryAttribute) != 0) return true;
  if (name == nullptr || name[0] == '\0') return false;
  // The last character decides; walk by characters so that a double-byte
  // character ending in 0x5C is not taken for a trailing "\".
  bool endsInSeparator = false;
  for (const char* p = name; *p != '\0';) {
    const std::size_t n = CharLength(p);
    endsInSeparator = (n == 1 && IsSeparator(*p));
    p += n;
  }
  return endsInSeparator;
}

bool IsConfinedEntryName(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  if (IsSeparator(name[0])) return false;
  const char* levelStart = name;
  for (const char* p = name;;) {
    if (*p == '\0' || (CharLength(p) == 1 && IsSeparator(*p))) {
      if (IsParentLike(levelStart, p) || IsDeviceName(levelStart, p)) return false;
      if (*p == '\0') return true;
      ++p;
      levelStart = p;
      continue;
    }
    if (*p == ':') return false;  // drive letters and alternate data streams
    p += CharLength(p);
  }
}

}  // namespace update
