// What rebuilding a changed file of chunks takes: for each chunk of the new
// file, where its bytes come from. A chunk already fetched by an earlier run
// is taken from the chunk store; else one that the installed manifest lists
// with the same SHA-256 for the same path is copied from the installed file
// (the manifest vouches for it; the copy checks it as it reads it), and one
// at the same place in the installed file is tried next (a client without a
// manifest, a repair), read and hashed before it is counted on. The rest is
// fetched. Pure: no windows.h; files are looked at through ChunkProbe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "update/manifest/fetch_plan.h"
#include "update/manifest/manifest.h"

namespace update {

class ChunkProbe {
 public:
  virtual ~ChunkProbe() = default;
  // Whether the installed file `name` holds `chunk`'s bytes at `from`.
  virtual bool InstalledHolds(const std::string& name, std::uint64_t from, const ManifestChunk& chunk) = 0;
  // Whether the chunk store holds `chunk`.
  virtual bool FetchedHolds(const ManifestChunk& chunk) = 0;
};

enum class ChunkSourceKind { Fetch, Installed, Fetched };

struct ChunkSource {
  ChunkSourceKind kind = ChunkSourceKind::Fetch;
  std::uint64_t from = 0;  // Installed: the offset in the installed file
};

struct RebuildPlan {
  std::size_t entry = 0;              // index into the new manifest
  std::vector<ChunkSource> sources;   // one per chunk of the entry
  std::size_t fetchCount = 0;
  std::uint64_t fetchDataBytes = 0;   // compressed bytes of the chunks to fetch
};

// The plan for entry `entry` of `target` (a file with chunks), `installed`
// being the installed manifest's entry of the same name, or null.
RebuildPlan PlanRebuild(const Manifest& target, std::size_t entry, const ManifestEntry* installed, ChunkProbe& probe);

// The chunks a copy found changed (`failed`, indices into the entry's
// chunks) are fetched instead.
void FetchInstead(RebuildPlan* plan, const Manifest& target, const std::vector<std::size_t>& failed);

// One chunk to fetch.
struct ChunkPiece {
  std::size_t entry = 0;
  std::size_t chunk = 0;
};

// The fetched chunks of `plans`, in archive order.
std::vector<ChunkPiece> PiecesToFetch(const Manifest& target, const std::vector<RebuildPlan>& plans);

// Joins pieces (in archive order) into requests as CoalesceSpans joins spans;
// each range's `entries` are indices into `pieces`.
std::vector<FetchRange> CoalesceChunks(const Manifest& target, const std::vector<ChunkPiece>& pieces,
                                       std::uint64_t maxGap = kMaxSpanGap);

}  // namespace update
