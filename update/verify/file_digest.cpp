#include "update/verify/file_digest.h"

#include <memory>

#include "base/stream_position.h"
#include "base/unique_file.h"

namespace update {

namespace {

constexpr std::size_t kBlockSize = 1u << 20;

}  // namespace

bool FileSha256(const char* path, Sha256Digest* out, const DigestProgress& progress) {
  if (path == nullptr || out == nullptr) return false;
  base::UniqueFile file(std::fopen(path, "rb"));
  std::uint64_t size = 0;
  if (!file || !base::StreamSize(file.Get(), &size)) return false;
  std::setvbuf(file.Get(), nullptr, _IONBF, 0);
  auto buffer = std::make_unique<char[]>(kBlockSize);
  ArchiveVerifier digest{ArchiveExpectation{}};
  std::uint64_t done = 0;
  for (std::size_t n; (n = std::fread(buffer.get(), 1, kBlockSize, file.Get())) > 0;) {
    digest.OnBody(buffer.get(), n);
    done += n;
    if (progress) progress(done, size);
    if (n < kBlockSize) break;
  }
  if (std::ferror(file.Get())) return false;
  digest.Finish();
  *out = digest.ReceivedDigest();
  return true;
}

}  // namespace update
