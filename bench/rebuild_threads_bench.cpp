// A file of chunks rebuilt on one thread and on the default number:
// `rebuild_threads_bench OLD_CLIENT OLD_MANIFEST NEW_ARCHIVE NEW_MANIFEST WORK`
// plans the rebuild of every chunked file of NEW_MANIFEST from OLD_CLIENT (as
// installed with OLD_MANIFEST), puts the chunks it would fetch into a chunk
// store under WORK (inflated from NEW_ARCHIVE, as the launcher stages fetched
// chunks), then rebuilds the files with 1 thread and with the default,
// alternately, three times each, and prints the best time of each:
//   ok=1 files=N chunks=N fetched=N mib=N threads=N one_ms=T default_ms=T ratio=R
// (bench/run reads the line; ratio is one_ms / default_ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stream_position.h"
#include "base/unique_file.h"
#include "update/incremental/chunk_read_ahead.h"
#include "update/incremental/chunk_staging.h"
#include "update/manifest/chunk_plan.h"
#include "update/manifest/manifest.h"

namespace {

namespace fs = std::filesystem;

bool ReadWhole(const std::string& path, std::string* out) {
  base::UniqueFile file(std::fopen(path.c_str(), "rb"));
  std::uint64_t size = 0;
  if (!file || !base::StreamSize(file.Get(), &size)) return false;
  out->resize(static_cast<std::size_t>(size));
  return size == 0 || std::fread(&(*out)[0], 1, out->size(), file.Get()) == out->size();
}

bool LoadManifest(const std::string& path, update::Manifest* manifest) {
  std::string text;
  return ReadWhole(path, &text) &&
         update::ParseManifest(text.data(), text.size(), manifest) == update::ManifestParse::Parsed;
}

// The chunk's compressed bytes from the archive, inflated into the store.
bool StoreChunk(FILE* archive, const update::ManifestEntry& entry, const update::ManifestChunk& chunk,
                const std::string& folder) {
  std::string data(static_cast<std::size_t>(chunk.dataLength), '\0');
  std::string bytes;
  if (!base::SeekTo(archive, entry.ChunkDataAt(chunk)) ||
      std::fread(&data[0], 1, data.size(), archive) != data.size() ||
      !update::InflateChunkAlone(data.data(), data.size(), chunk.length, &bytes))
    return false;
  base::UniqueFile out(std::fopen(update::ChunkStorePath(folder, chunk).c_str(), "wb"));
  return out && std::fwrite(bytes.data(), 1, bytes.size(), out.Get()) == bytes.size() && out.Close();
}

double Ms(const std::chrono::steady_clock::duration& d) { return std::chrono::duration<double, std::milli>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: rebuild_threads_bench OLD_CLIENT OLD_MANIFEST NEW_ARCHIVE NEW_MANIFEST WORK\n");
    return 2;
  }
  const std::string client = argv[1], work = argv[5];
  update::Manifest before, after;
  if (!LoadManifest(argv[2], &before) || !LoadManifest(argv[4], &after)) {
    std::printf("ok=0 the manifests do not read\n");
    return 1;
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
  fs::create_directories(update::ChunkStoreFolder(work));
  base::UniqueFile archive(std::fopen(argv[3], "rb"));
  if (!archive) {
    std::printf("ok=0 cannot read %s\n", argv[3]);
    return 1;
  }
  update::FileChunkProbe probe(client, work);
  std::vector<update::RebuildPlan> plans;
  std::size_t chunks = 0, fetched = 0;
  std::uint64_t bytes = 0;
  for (std::size_t i = 0; i < after.entries.size(); ++i) {
    const update::ManifestEntry& entry = after.entries[i];
    if (entry.chunks.empty()) continue;
    const update::ManifestEntry* installed = nullptr;
    for (const update::ManifestEntry& old : before.entries)
      if (old.name == entry.name) installed = &old;
    update::RebuildPlan plan = update::PlanRebuild(after, i, installed, probe);
    for (std::size_t c = 0; c < entry.chunks.size(); ++c) {
      if (plan.sources[c].kind != update::ChunkSourceKind::Fetch) continue;
      if (!StoreChunk(archive.Get(), entry, entry.chunks[c], work)) {
        std::printf("ok=0 chunk %zu of %s does not inflate\n", c, entry.name.c_str());
        return 1;
      }
      plan.sources[c].kind = update::ChunkSourceKind::Fetched;
      ++fetched;
    }
    chunks += entry.chunks.size();
    bytes += entry.size;
    plans.push_back(std::move(plan));
  }
  if (plans.empty()) {
    std::printf("ok=0 no file of chunks in %s\n", argv[4]);
    return 1;
  }

  const unsigned threads = update::DefaultChunkThreads();
  double one = 1e30, many = 1e30;
  bool ok = true;
  for (int round = 0; round < 3 && ok; ++round) {
    for (const unsigned asked : {1u, threads}) {
      // Only the rebuilds count: removing the file rebuilt (a fraction of a
      // second for 1 GiB under Wine, and varying) is no part of one.
      double ms = 0;
      for (const update::RebuildPlan& plan : plans) {
        const update::ManifestEntry& entry = after.entries[plan.entry];
        const std::string staged = work + "/staged";
        const auto start = std::chrono::steady_clock::now();
        ok = ok && update::RebuildFile(after, plan, client + "/" + entry.name, work, staged, nullptr, asked) ==
                       update::RebuildOutcome::Staged;
        ms += Ms(std::chrono::steady_clock::now() - start);
        std::remove(staged.c_str());
      }
      double& best = asked == 1 ? one : many;
      best = std::min(best, ms);
    }
  }
  fs::remove_all(work, ignored);
  std::printf("ok=%d files=%zu chunks=%zu fetched=%zu mib=%.0f threads=%u one_ms=%.1f default_ms=%.1f ratio=%.2f\n",
              ok ? 1 : 0, plans.size(), chunks, fetched, static_cast<double>(bytes) / (1 << 20), threads, one, many,
              one / many);
  return ok ? 0 : 1;
}
