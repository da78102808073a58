#include "update/manifest/chunk_plan.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace update {

namespace {

// Digests order by their bytes, so that the installed chunks can be looked up.
struct DigestLess {
  bool operator()(const Sha256Digest& a, const Sha256Digest& b) const {
    return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) < 0;
  }
};

}  // namespace

RebuildPlan PlanRebuild(const Manifest& target, std::size_t entry, const ManifestEntry* installed, ChunkProbe& probe) {
  const ManifestEntry& file = target.entries[entry];
  std::map<Sha256Digest, std::vector<const ManifestChunk*>, DigestLess> before;
  if (installed != nullptr) {
    for (const ManifestChunk& chunk : installed->chunks) before[chunk.sha256].push_back(&chunk);
  }
  RebuildPlan plan;
  plan.entry = entry;
  for (const ManifestChunk& chunk : file.chunks) {
    ChunkSource source;
    const auto listed = before.find(chunk.sha256);
    const ManifestChunk* vouched = nullptr;
    if (listed != before.end()) {
      for (const ManifestChunk* old : listed->second)
        if (old->length == chunk.length && vouched == nullptr) vouched = old;
    }
    if (probe.FetchedHolds(chunk)) {
      source.kind = ChunkSourceKind::Fetched;
    } else if (vouched != nullptr) {
      source.kind = ChunkSourceKind::Installed;
      source.from = vouched->offset;
    } else if (probe.InstalledHolds(file.name, chunk.offset, chunk)) {
      source.kind = ChunkSourceKind::Installed;
      source.from = chunk.offset;
    }
    if (source.kind == ChunkSourceKind::Fetch) {
      ++plan.fetchCount;
      plan.fetchDataBytes += chunk.dataLength;
    }
    plan.sources.push_back(source);
  }
  return plan;
}

void FetchInstead(RebuildPlan* plan, const Manifest& target, const std::vector<std::size_t>& failed) {
  const ManifestEntry& file = target.entries[plan->entry];
  for (std::size_t index : failed) {
    ChunkSource& source = plan->sources[index];
    if (source.kind == ChunkSourceKind::Fetch) continue;
    source.kind = ChunkSourceKind::Fetch;
    ++plan->fetchCount;
    plan->fetchDataBytes += file.chunks[index].dataLength;
  }
}

std::vector<ChunkPiece> PiecesToFetch(const Manifest& target, const std::vector<RebuildPlan>& plans) {
  std::vector<ChunkPiece> pieces;
  for (const RebuildPlan& plan : plans) {
    for (std::size_t i = 0; i < plan.sources.size(); ++i)
      if (plan.sources[i].kind == ChunkSourceKind::Fetch) pieces.push_back({plan.entry, i});
  }
  std::stable_sort(pieces.begin(), pieces.end(), [&](const ChunkPiece& a, const ChunkPiece& b) {
    return target.entries[a.entry].spanOffset < target.entries[b.entry].spanOffset;
  });
  return pieces;
}

std::vector<FetchRange> CoalesceChunks(const Manifest& target, const std::vector<ChunkPiece>& pieces,
                                       std::uint64_t maxGap) {
  std::vector<FetchRange> ranges;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const ManifestEntry& entry = target.entries[pieces[i].entry];
    const ManifestChunk& chunk = entry.chunks[pieces[i].chunk];
    const std::uint64_t at = entry.ChunkDataAt(chunk);
    if (!ranges.empty()) {
      FetchRange& last = ranges.back();
      const std::uint64_t end = last.offset + last.length;
      if (at >= end && at - end <= maxGap) {
        last.length = at + chunk.dataLength - last.offset;
        last.entries.push_back(i);
        continue;
      }
    }
    FetchRange range;
    range.offset = at;
    range.length = chunk.dataLength;
    range.entries.push_back(i);
    ranges.push_back(std::move(range));
  }
  return ranges;
}

}  // namespace update
