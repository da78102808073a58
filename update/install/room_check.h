// The room an update needs (update/install/room_needed.h) held against the
// free space of each volume it writes to, for the calling user's quota,
// before anything of the archive is fetched. Windows.
#pragma once

#include "update/install/room_needed.h"

namespace update {

enum class RoomVerdict {
  Enough,    // every volume has the room
  Short,     // "Not enough disk space on ROOT: N bytes needed, M free" is logged
  Unknown,   // a volume or its free space could not be told; nothing logged, the later checks stand
};

// Fills in the volumes of `tempDirectory` and `gameDirectory` (both exist)
// and compares what `sizes` needs on each with its free space, measured at
// the directory itself (a mount point below a drive letter has its own).
RoomVerdict CheckRoom(RoomSizes sizes, const char* tempDirectory, const char* gameDirectory);

// Whether the volume of `directory` now has less than `bytes` free (for the
// calling user): what tells a write that failed for lack of room from one
// that failed otherwise. False when the free space cannot be told.
bool VolumeLacks(const char* directory, std::uint64_t bytes);

}  // namespace update
