// The PNG decoder, fed through a file (DecodePng reads only from a path).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "ui/png_decode.h"

namespace {

// One scratch file per process, removed at exit.
const std::string& ScratchPath() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_png_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = mkstemp(buffer.data());
    FUZZ_CHECK(fd >= 0);
    close(fd);
    std::string made(buffer.data());
    static std::string forCleanup;
    forCleanup = made;
    std::atexit([] { std::remove(forCleanup.c_str()); });
    return made;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& path = ScratchPath();
  FILE* file = std::fopen(path.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  std::fclose(file);

  std::int32_t width = -7;
  std::int32_t height = -7;
  std::vector<std::uint8_t> pixels(3, 0xAB);
  const std::int32_t bytes = ui::DecodePng(path.c_str(), &width, &height, &pixels);
  if (bytes < 0) {
    // A refused file leaves every output as it was.
    FUZZ_CHECK(bytes == -1 && width == -7 && height == -7 && pixels.size() == 3);
    return 0;
  }
  FUZZ_CHECK(width >= 1 && width <= 8192 && height >= 1 && height <= 8192);
  FUZZ_CHECK(static_cast<std::int64_t>(bytes) == std::int64_t{width} * height * 4);
  FUZZ_CHECK(pixels.size() == static_cast<std::size_t>(bytes));
  return 0;
}
