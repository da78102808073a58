#include "tests/support/volume_filler.h"

#include <windows.h>

#include <chrono>

#include "base/guards.h"

namespace testing_files {

namespace {

bool GrownPast(const std::string& path, std::uint64_t size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  return ((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) > size;
}

void Fill(const std::string& filler) {
  base::UniqueHandle file(::CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  if (!file.Valid()) return;
  static const char block[64 * 1024] = {'x'};
  // Large pieces while they fit, then ever smaller ones for the last clusters.
  for (DWORD piece = sizeof block; piece != 0; piece /= 2) {
    DWORD written = 0;
    while (::WriteFile(file.Get(), block, piece, &written, nullptr) && written == piece) {
    }
  }
}

}  // namespace

VolumeFiller::VolumeFiller(std::string watched, std::uint64_t grownPast, std::string filler)
    : thread_([watched, grownPast, filler] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!GrownPast(watched, grownPast)) {
          if (std::chrono::steady_clock::now() > deadline) return;
          ::Sleep(5);
        }
        Fill(filler);
      }) {}

VolumeFiller::~VolumeFiller() { Join(); }

void VolumeFiller::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace testing_files
