// The room an update needs on each volume, from the sizes it knows before
// the first byte is fetched.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "update/install/room_needed.h"

namespace {

constexpr std::uint64_t kMax = UINT64_MAX;
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

update::RoomSizes OnC() {
  update::RoomSizes sizes;
  sizes.tempVolume = "C:\\";
  sizes.gameVolume = "C:\\";
  sizes.margin = 16 * kMiB;
  return sizes;
}

struct Case {
  const char* what;
  update::RoomSizes sizes;
  std::vector<std::uint64_t> bytes;  // Temp's volume, then Game's when it is another
};

TEST(RoomNeeded, AddsWhatEachVolumeHoldsAtOnce) {
  std::vector<Case> cases;
  auto add = [&](const char* what, auto change, std::vector<std::uint64_t> bytes) {
    update::RoomSizes sizes = OnC();
    change(sizes);
    cases.push_back({what, sizes, std::move(bytes)});
  };
  add("one volume: the archive, its unpacked files and the margin", [](update::RoomSizes& s) {
    s.fetched = 30 * kMiB, s.staged = 40 * kMiB, s.committed = 40 * kMiB;
  }, {86 * kMiB});
  add("the same root in another case is one volume", [](update::RoomSizes& s) {
    s.gameVolume = "c:\\", s.fetched = 30 * kMiB, s.staged = 40 * kMiB, s.committed = 40 * kMiB;
  }, {86 * kMiB});
  add("two volumes: the commit's new files need room on Game's", [](update::RoomSizes& s) {
    s.gameVolume = "D:\\", s.fetched = 30 * kMiB, s.staged = 40 * kMiB, s.committed = 40 * kMiB;
  }, {86 * kMiB, 56 * kMiB});
  add("a resumed part needs only its rest", [](update::RoomSizes& s) {
    s.fetched = 30 * kMiB, s.fetchedOnDisk = 25 * kMiB, s.staged = 40 * kMiB;
  }, {61 * kMiB});
  add("a part longer than the archive is emptied, never owed", [](update::RoomSizes& s) {
    s.fetched = 30 * kMiB, s.fetchedOnDisk = 31 * kMiB, s.staged = 40 * kMiB;
  }, {56 * kMiB});
  add("entries kept in Temp\\Fetched are not fetched again", [](update::RoomSizes& s) {
    s.fetched = 12 * kMiB, s.fetchedOnDisk = 8 * kMiB;
  }, {20 * kMiB});
  add("a rebuilt file larger than the others counts whole, beside its chunks", [](update::RoomSizes& s) {
    s.fetched = 3 * kMiB, s.rebuilt = 256 * kMiB;
  }, {275 * kMiB});
  add("the archive it replaces serves the staging", [](update::RoomSizes& s) {
    s.fetched = 30 * kMiB, s.staged = 40 * kMiB, s.replacedBeforeStaging = 28 * kMiB;
  }, {58 * kMiB});
  add("but never the transfer", [](update::RoomSizes& s) {
    s.fetched = 30 * kMiB, s.staged = 4 * kMiB, s.replacedBeforeStaging = 28 * kMiB;
  }, {46 * kMiB});
  add("sums past 2^64 hold at the largest number", [](update::RoomSizes& s) {
    s.gameVolume = "D:\\", s.fetched = kMax - 1, s.staged = 5, s.rebuilt = kMax, s.committed = kMax;
  }, {kMax, kMax});
  add("the margin alone does not wrap either", [](update::RoomSizes& s) {
    s.fetched = kMax - 8 * kMiB;
  }, {kMax});

  for (const Case& c : cases) {
    const std::vector<update::VolumeRoom> room = update::RoomNeeded(c.sizes);
    ASSERT_EQ(c.bytes.size(), room.size()) << c.what;
    for (std::size_t i = 0; i < room.size(); ++i) {
      EXPECT_EQ(c.bytes[i], room[i].bytes) << c.what << ", volume " << i;
      EXPECT_EQ(i == 0, room[i].holdsTemp) << c.what;
      EXPECT_EQ(i == 0 ? c.sizes.tempVolume : c.sizes.gameVolume, room[i].root) << c.what;
    }
  }
}

}  // namespace
