#include "update/install/room_check.h"

#include <windows.h>

#include "update/directory_levels.h"
#include "update/download_log.h"

namespace update {

namespace {

bool VolumeOf(const char* directory, std::string* root) {
  char path[kPathSize] = {};
  if (directory == nullptr || !::GetVolumePathNameA(directory, path, sizeof path) || path[0] == '\0') return false;
  *root = path;
  return true;
}

bool FreeBytes(const char* directory, std::uint64_t* free) {
  ULARGE_INTEGER available;
  if (!::GetDiskFreeSpaceExA(directory, &available, nullptr, nullptr)) return false;
  *free = available.QuadPart;
  return true;
}

}  // namespace

RoomVerdict CheckRoom(RoomSizes sizes, const char* tempDirectory, const char* gameDirectory) {
  if (!VolumeOf(tempDirectory, &sizes.tempVolume) || !VolumeOf(gameDirectory, &sizes.gameVolume))
    return RoomVerdict::Unknown;
  RoomVerdict verdict = RoomVerdict::Enough;
  for (const VolumeRoom& volume : RoomNeeded(sizes)) {
    std::uint64_t free = 0;
    if (!FreeBytes(volume.holdsTemp ? tempDirectory : gameDirectory, &free)) {
      verdict = RoomVerdict::Unknown;
      continue;
    }
    if (free >= volume.bytes) continue;
    WriteLog("Not enough disk space on %s: %llu bytes needed, %llu free\n", volume.root.c_str(),
             static_cast<unsigned long long>(volume.bytes), static_cast<unsigned long long>(free));
    return RoomVerdict::Short;
  }
  return verdict;
}

bool VolumeLacks(const char* directory, std::uint64_t bytes) {
  std::uint64_t free = 0;
  return FreeBytes(directory, &free) && free < bytes;
}

}  // namespace update
