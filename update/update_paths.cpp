#include "update/update_paths.h"

#include "base/bounded_format.h"

namespace update {

bool ComposePath(char* out, std::size_t size, const char* directory, const char* name) {
  return base::FormatInto(out, size, "%s\\%s", directory, name);
}

bool ComposeTickUrl(char* out, std::size_t size, const char* base, std::uint32_t tickCount) {
  return base::FormatInto(out, size, "%s?%d", base, static_cast<int>(static_cast<std::int32_t>(tickCount)));
}

bool ComposeDigestUrl(char* out, std::size_t size, const char* base, const Sha256Digest& digest) {
  char hex[kSha256HexSize];
  FormatSha256Hex(digest, hex);
  return base::FormatInto(out, size, "%s?%.16s", base, hex);
}

}  // namespace update
