// How many bytes an update needs on each volume it writes to, worked out
// from the sizes the descriptor and the manifest declare before a byte of the
// archive is fetched, so that a disk too small ends the run before the
// download rather than after it. Pure: no windows.h.
//
// What lands where: the transfers write into Temp (the archive's part, or the
// entries and chunks inflated from ranges into Temp\Fetched); the whole
// archive is unpacked into Temp\Staging; chunked files are rebuilt into
// Temp\Fetched beside the chunks, which go only once every such file is
// written. The commit moves each staged file over its target with one rename
// (update/install/commit.cpp): on one volume the replaced file's room comes
// back at that rename and the commit keeps nothing until it ends. Only when
// Game sits on another volume than Temp do the new files need room there too.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace update {

struct RoomSizes {
  std::string tempVolume;  // the root of Temp's volume ("C:\"), as the system names it
  std::string gameVolume;  // the root of Game's volume
  // What the transfers leave in Temp: the whole archive (its Size), or the
  // entries and chunks inflated from ranges (each rounded up to clusters).
  std::uint64_t fetched = 0;
  // Of `fetched`, what an earlier run left on disk: the part being resumed,
  // the entries kept in Temp\Fetched. More than `fetched` counts as all of it.
  std::uint64_t fetchedOnDisk = 0;
  // The archive's files unpacked into Temp\Staging (rounded up to clusters).
  std::uint64_t staged = 0;
  // A copy of an earlier archive in Temp that the new one replaces once it is
  // whole, before it is unpacked: its room serves the staging.
  std::uint64_t replacedBeforeStaging = 0;
  // Every chunked file rebuilt from old chunks and fetched ones (rounded up to
  // clusters): they all stay staged, beside the fetched chunks, until the commit.
  std::uint64_t rebuilt = 0;
  // The new files the commit puts into Game (rounded up to clusters).
  std::uint64_t committed = 0;
  // Kept free on every volume written to (the journal, the records, what the
  // file system keeps for itself).
  std::uint64_t margin = 0;
};

struct VolumeRoom {
  std::string root;
  bool holdsTemp = false;  // Temp is on it (else only Game)
  std::uint64_t bytes = 0;
};

// Temp's volume first, then Game's when it is another one (roots compared as
// Windows compares names: without regard to ASCII case). Sums are held at the
// largest number instead of wrapping.
std::vector<VolumeRoom> RoomNeeded(const RoomSizes& sizes);

}  // namespace update
