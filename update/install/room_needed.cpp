#include "update/install/room_needed.h"

#include "update/transfer_rules.h"

namespace update {

namespace {

bool SameRoot(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

std::vector<VolumeRoom> RoomNeeded(const RoomSizes& sizes) {
  const std::uint64_t toFetch = sizes.fetched > sizes.fetchedOnDisk ? sizes.fetched - sizes.fetchedOnDisk : 0;
  // The staging follows the transfer: the replaced archive is gone by then,
  // and the room it leaves counts for the staging only, never for the transfer.
  const std::uint64_t staging =
      sizes.staged > sizes.replacedBeforeStaging ? sizes.staged - sizes.replacedBeforeStaging : 0;
  VolumeRoom temp;
  temp.root = sizes.tempVolume;
  temp.holdsTemp = true;
  temp.bytes = AddBytes(AddBytes(AddBytes(toFetch, staging), sizes.rebuilt), sizes.margin);
  std::vector<VolumeRoom> volumes;
  volumes.push_back(temp);
  if (!SameRoot(sizes.tempVolume, sizes.gameVolume)) {
    VolumeRoom game;
    game.root = sizes.gameVolume;
    game.bytes = AddBytes(sizes.committed, sizes.margin);
    volumes.push_back(game);
  }
  return volumes;
}

}  // namespace update
