#include "update/disk_name.h"

#include "update/dbcs.h"

namespace update {

std::string DiskNameKey(const std::string& name) {
  std::string key;
  key.reserve(name.size());
  const char* p = name.c_str();
  while (*p != '\0') {
    const std::size_t n = CharLength(p);
    if (n == 2) {
      key.append(p, 2);
    } else if (IsSeparator(*p)) {
      key.push_back('/');
    } else {
      key.push_back((*p >= 'a' && *p <= 'z') ? static_cast<char>(*p - 'a' + 'A') : *p);
    }
    p += n;
  }
  while (!key.empty() && key.back() == '/') key.pop_back();
  return key;
}

}  // namespace update
