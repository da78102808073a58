#include "update/manifest/fetch_plan.h"

#include <algorithm>
#include <unordered_map>

#include "update/disk_name.h"

namespace update {

namespace {

std::size_t Depth(const std::string& key) { return static_cast<std::size_t>(std::count(key.begin(), key.end(), '/')); }

bool SameContent(const ManifestEntry& a, const ManifestEntry& b) {
  return a.directory == b.directory && a.size == b.size &&
         std::equal(std::begin(a.sha256.bytes), std::end(a.sha256.bytes), std::begin(b.sha256.bytes));
}

// Whether Game's file still holds `entry`'s content: the installed manifest
// vouches for it when it names the same content and the file has its size;
// without one, the size and then the CRC-32 decide.
bool HoldsContent(const ManifestEntry& entry, const ManifestEntry* recorded, bool haveManifest, InstalledFiles& game) {
  std::uint64_t size = 0;
  if (!game.FileSize(entry.name, &size) || size != entry.size) return false;
  if (haveManifest) return recorded != nullptr && SameContent(*recorded, entry);
  std::uint32_t crc = 0;
  return game.FileCrc(entry.name, &crc) && crc == entry.crc;
}

}  // namespace

bool SameDiskName(const std::string& a, const std::string& b) { return DiskNameKey(a) == DiskNameKey(b); }

std::vector<FetchRange> CoalesceSpans(const Manifest& manifest, const std::vector<std::size_t>& entries,
                                      std::uint64_t maxGap) {
  std::vector<FetchRange> ranges;
  for (std::size_t index : entries) {
    const ManifestEntry& entry = manifest.entries[index];
    if (!ranges.empty()) {
      FetchRange& last = ranges.back();
      const std::uint64_t end = last.offset + last.length;
      if (entry.spanOffset >= end && entry.spanOffset - end <= maxGap) {
        last.length = entry.spanOffset + entry.spanLength - last.offset;
        last.entries.push_back(index);
        continue;
      }
    }
    FetchRange range;
    range.offset = entry.spanOffset;
    range.length = entry.spanLength;
    range.entries.push_back(index);
    ranges.push_back(std::move(range));
  }
  return ranges;
}

bool NeedsWholeArchive(std::uint64_t rangeBytes, std::uint64_t archiveSize) { return rangeBytes > archiveSize / 2; }

FetchPlan PlanFetch(const Manifest& target, const Manifest* installed, InstalledFiles& game) {
  FetchPlan plan;
  std::unordered_map<std::string, const ManifestEntry*> recorded;
  if (installed != nullptr) {
    for (const ManifestEntry& entry : installed->entries) recorded.emplace(DiskNameKey(entry.name), &entry);
  }
  std::unordered_map<std::string, bool> kept;  // every name of the new version
  for (std::size_t i = 0; i < target.entries.size(); ++i) {
    const ManifestEntry& entry = target.entries[i];
    const std::string key = DiskNameKey(entry.name);
    kept.emplace(key, true);
    if (entry.directory) continue;
    const auto found = recorded.find(key);
    const ManifestEntry* before = found == recorded.end() ? nullptr : found->second;
    if (HoldsContent(entry, before, installed != nullptr, game)) continue;
    plan.fetch.push_back(i);
    plan.spanBytes += entry.spanLength;
  }
  // Spans lie in ascending order in the archive, and so do the entries.
  std::vector<std::size_t> bySpan = plan.fetch;
  std::sort(bySpan.begin(), bySpan.end(), [&](std::size_t a, std::size_t b) {
    return target.entries[a].spanOffset < target.entries[b].spanOffset;
  });
  plan.ranges = CoalesceSpans(target, bySpan);
  for (const FetchRange& range : plan.ranges) plan.rangeBytes += range.length;
  plan.wholeArchive = NeedsWholeArchive(plan.rangeBytes, target.archiveSize);

  if (installed != nullptr) {
    std::vector<std::pair<std::size_t, std::string>> directories;
    for (const ManifestEntry& entry : installed->entries) {
      const std::string key = DiskNameKey(entry.name);
      if (kept.count(key) != 0) continue;
      if (entry.directory) directories.emplace_back(Depth(key), entry.name);
      else plan.removedFiles.push_back(entry.name);
    }
    std::stable_sort(directories.begin(), directories.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    for (auto& directory : directories) plan.removedDirectories.push_back(std::move(directory.second));
  }
  return plan;
}

}  // namespace update
