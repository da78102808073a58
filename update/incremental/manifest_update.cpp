#include "update/incremental/manifest_update.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/bounded_format.h"
#include "base/crc32.h"
#include "base/file_size.h"
#include "base/file_tree.h"
#include "base/guards.h"
#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/incremental/chunk_staging.h"
#include "update/incremental/span_staging.h"
#include "update/install/room_check.h"
#include "update/install/staging.h"
#include "update/transfer/http_download.h"
#include "update/transfer/line_meter.h"
#include "update/transfer_rules.h"
#include "update/trust/sha256.h"

namespace update {

namespace {

const char kSection[] = "Launcher";
const char kBindingKey[] = "ManifestSha256";

// Game's files as the plan needs them: sizes, and a CRC-32 read on demand.
class GameFiles : public InstalledFiles {
 public:
  // `progress`, when not null, gets the share of `total` bytes read so far.
  GameFiles(const char* game, progress::ProgressTargets* progress = nullptr, std::uint64_t total = 0)
      : game_(game), progress_(progress), total_(total) {}
  std::uint64_t BytesRead() const { return read_; }
  bool FileSize(const std::string& name, std::uint64_t* size) override {
    return base::FileSize(Path(name).c_str(), size);
  }
  bool FileCrc(const std::string& name, std::uint32_t* crc) override {
    base::UniqueFile file(std::fopen(Path(name).c_str(), "rb"));
    if (!file) return false;
    std::unique_ptr<char[]> buffer = std::make_unique<char[]>(kBlock);
    std::uint32_t value = 0;
    std::size_t n = 0;
    while ((n = std::fread(buffer.get(), 1, kBlock, file.Get())) > 0) {
      value = base::Crc32(value, buffer.get(), n);
      read_ += n;
      if (progress_ != nullptr)
        progress_->upperTarget.store(
            TransferPercent(static_cast<std::int64_t>(read_), static_cast<std::int64_t>(total_)));
    }
    if (std::ferror(file.Get())) return false;
    *crc = value;
    return true;
  }

 private:
  static constexpr std::size_t kBlock = 256 * 1024;
  std::string Path(const std::string& name) const { return std::string(game_) + "/" + name; }
  const char* game_;
  progress::ProgressTargets* progress_;
  std::uint64_t total_;
  std::uint64_t read_ = 0;
};

// A file read whole, at most `limit` bytes.
bool ReadSmallFile(const char* path, std::size_t limit, std::string* out) {
  std::uint64_t size = 0;
  if (!base::FileSize(path, &size) || size > limit) return false;
  base::UniqueFile file(std::fopen(path, "rb"));
  if (!file) return false;
  out->assign(static_cast<std::size_t>(size), '\0');
  return size == 0 || std::fread(&(*out)[0], 1, out->size(), file.Get()) == out->size();
}

bool SameDigest(const Sha256Digest& a, const Sha256Digest& b) { return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) == 0; }

void LogWholeArchive(const char* cause) { WriteLog("Fetching the whole archive: %s\n", cause); }

std::uint32_t NextRandom() {
  static std::uint32_t state = ::GetTickCount() ^ (::GetCurrentProcessId() << 8);
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

}  // namespace

ManifestUpdate::ManifestUpdate(const ManifestUpdateSetup& setup) : setup_(setup) {
  manifestPath_ = std::string(setup.tempDirectory) + "\\ClientContent.manifest";
  fetchedFolder_ = std::string(setup.tempDirectory) + "\\Fetched";
}

ManifestUpdate::~ManifestUpdate() = default;

bool ManifestUpdate::LoadManifest() {
  const ArchiveExpectation& expected = setup_.manifest->content;
  if (expected.hasSize && expected.size > kMaxManifestBytes) {
    LogWholeArchive("the manifest is larger than the launcher reads");
    return false;
  }
  // From Manifest, else Manifest2 and Manifest3 in turn.
  const char* urls[] = {setup_.manifestUrl, setup_.manifestMirrors[0], setup_.manifestMirrors[1]};
  bool fetched = false;
  for (std::size_t i = 0; i < sizeof urls / sizeof urls[0] && !fetched && !StopRequested(); ++i) {
    if (urls[i] == nullptr || urls[i][0] == '\0') continue;
    if (i != 0) WriteLog("Trying the next mirror of the manifest (%s)\n", urls[i]);
    if (expected.Any()) {
      ArchiveBodyCheck check(expected);
      fetched = FetchFile(manifestPath_.c_str(), urls[i], nullptr, setup_.limits, setup_.retry, &check);
      if (!fetched && check.Refused()) LogArchiveRefusal(check.Last(), check.Verifier());
    } else {
      LimitCheck check(kMaxManifestBytes);
      fetched = FetchFile(manifestPath_.c_str(), urls[i], nullptr, setup_.limits, setup_.retry, &check);
    }
  }
  if (!fetched) {
    ::DeleteFileA(manifestPath_.c_str());
    LogWholeArchive("the manifest was not fetched");
    return false;
  }
  std::string text;
  if (!ReadSmallFile(manifestPath_.c_str(), kMaxManifestBytes, &text) ||
      ParseManifest(text.data(), text.size(), &manifest_) != ManifestParse::Parsed) {
    ::DeleteFileA(manifestPath_.c_str());
    LogWholeArchive("the manifest is not valid");
    return false;
  }
  if ((setup_.archive.hasSize && setup_.archive.size != manifest_.archiveSize) ||
      (setup_.archive.hasDigest && !SameDigest(setup_.archive.digest, manifest_.archiveSha256))) {
    ::DeleteFileA(manifestPath_.c_str());
    LogWholeArchive("the manifest describes another archive");
    return false;
  }
  Sha256::Digest(text.data(), text.size(), manifestDigest_.bytes);  // the bytes just read, not the file again
  haveInstalled_ = ReadInstalledManifest();
  return true;
}

bool ManifestUpdate::ReadInstalledManifest() {
  char hex[2 * kSha256HexSize] = {};
  ::GetPrivateProfileStringA(kSection, kBindingKey, "", hex, sizeof hex, setup_.installRecord);
  std::string text;
  if (!ParseSha256Hex(hex, &installedDigest_) || !ReadSmallFile(setup_.installedManifest, kMaxManifestBytes, &text))
    return false;
  Sha256Digest kept;  // of the bytes read: what is parsed is what install.cfg binds
  Sha256::Digest(text.data(), text.size(), kept.bytes);
  return SameDigest(installedDigest_, kept) &&
         ParseManifest(text.data(), text.size(), &installed_) == ManifestParse::Parsed;
}

std::vector<JournalEntry> ManifestUpdate::Removals() const {
  std::vector<JournalEntry> removals;
  for (const std::string& name : plan_.removedFiles) {
    JournalEntry entry;
    entry.kind = JournalEntryKind::RemovedFile;
    entry.name = name;
    removals.push_back(std::move(entry));
  }
  for (const std::string& name : plan_.removedDirectories) {
    JournalEntry entry;
    entry.kind = JournalEntryKind::RemovedDirectory;
    entry.name = name;
    removals.push_back(std::move(entry));
  }
  return removals;
}

// Temp\Fetched belongs to one manifest: another's entries and chunks are
// removed, this one's are kept and need no fetch.
std::size_t ManifestUpdate::ArchiveHosts() const {
  std::size_t hosts = 1;
  while (hosts <= 2 && setup_.archiveMirrors[hosts - 1] != nullptr && setup_.archiveMirrors[hosts - 1][0] != '\0')
    ++hosts;
  return hosts;
}

// What the run's transfers so far (the descriptor, the manifest, earlier
// ranges) say a gap is worth.
const LineMeter& ManifestUpdate::Line() const {
  static const LineMeter kNothingMeasured;
  return setup_.limits.meter != nullptr ? *setup_.limits.meter : kNothingMeasured;
}

void ManifestUpdate::LogJoiningRule(std::uint64_t gap) const {
  const LineMeter& line = Line();
  WriteLog("Joining ranges across gaps up to %llu bytes (%llu KiB/s, %.1f ms round trip%s)\n",
           static_cast<unsigned long long>(gap), static_cast<unsigned long long>(line.BytesPerSecond() / 1024),
           line.FirstByteSeconds() * 1000, line.Measured() ? "" : ", not measured yet");
}

bool ManifestUpdate::StopRequested() const { return setup_.progress != nullptr && setup_.progress->stop.Requested(); }

bool ManifestUpdate::FetchedFolderIsOurs() const {
  char hex[kSha256HexSize];
  FormatSha256Hex(manifestDigest_, hex);
  std::string recorded;
  return ReadSmallFile((fetchedFolder_ + "\\manifest.sha256").c_str(), 256, &recorded) &&
         recorded.compare(0, 64, hex) == 0;
}

void ManifestUpdate::DropKeptEntries(std::vector<std::size_t>* fetch) const {
  std::vector<std::size_t> still;
  std::size_t kept = 0;
  for (std::size_t index : *fetch) {
    std::uint64_t size = 0;
    const std::string staged = StagedEntryPath(fetchedFolder_, index, false);
    if (base::FileSize(staged.c_str(), &size) && size == manifest_.entries[index].size) {
      ++kept;
    } else {
      still.push_back(index);
    }
  }
  if (kept != 0) WriteLog("Kept %llu entries fetched %s\n", static_cast<unsigned long long>(kept), keptFrom_);
  *fetch = std::move(still);
}

bool ManifestUpdate::TakeFetchedAhead(const std::string& aheadFolder) {
  char hex[kSha256HexSize];
  FormatSha256Hex(manifestDigest_, hex);
  std::string recorded;
  if (!ReadSmallFile((aheadFolder + "\\manifest.sha256").c_str(), 256, &recorded) || recorded.compare(0, 64, hex) != 0)
    return false;
  if (!FetchedFolderIsOurs()) {
    base::RemoveTree(fetchedFolder_);
    if (!::MoveFileExA(aheadFolder.c_str(), fetchedFolder_.c_str(), 0)) {
      WriteLog("Failed to MoveFileEx(%s, %s), GetLastError=%d\n", aheadFolder.c_str(), fetchedFolder_.c_str(),
               static_cast<int>(::GetLastError()));
      return false;
    }
    keptFrom_ = "ahead";
  }
  base::RemoveTree(aheadFolder);  // what stays of it when Temp\Fetched was this manifest's already
  return true;
}

bool ManifestUpdate::ResetFetchedFolder() {
  const std::string record = fetchedFolder_ + "\\manifest.sha256";
  char hex[kSha256HexSize];
  FormatSha256Hex(manifestDigest_, hex);
  base::RemoveTree(fetchedFolder_);
  if (!::CreateDirectoryA(fetchedFolder_.c_str(), nullptr)) {
    WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", fetchedFolder_.c_str(),
             static_cast<int>(::GetLastError()));
    return false;
  }
  base::UniqueFile out(std::fopen(record.c_str(), "wb"));
  const bool written = out && std::fwrite(hex, 1, 64, out.Get()) == 64;
  if (!(written && out.Close())) {
    WriteLog("Failed to write %s\n", record.c_str());
    return false;
  }
  return true;
}

const ManifestEntry* ManifestUpdate::InstalledEntry(const std::string& name) const {
  for (const ManifestEntry& entry : installed_.entries)
    if (!entry.directory && SameDiskName(entry.name, name)) return &entry;
  return nullptr;
}

// A changed file of chunks whose old version is in Game is rebuilt; it leaves
// `fetch`, which keeps the entries fetched whole.
void ManifestUpdate::PlanRebuilds(const Manifest* installed, bool storeUsable, std::vector<std::size_t>* fetch) {
  rebuilds_.clear();
  // Without a usable store the probe looks into a folder that is not there.
  FileChunkProbe probe(setup_.place.gameDirectory, storeUsable ? fetchedFolder_ : fetchedFolder_ + "\\none");
  std::vector<std::size_t> whole;
  for (std::size_t index : *fetch) {
    const ManifestEntry& entry = manifest_.entries[index];
    std::uint64_t size = 0;
    const std::string installedPath = std::string(setup_.place.gameDirectory) + "\\" + entry.name;
    if (entry.chunks.empty() || !base::FileSize(installedPath.c_str(), &size)) {
      whole.push_back(index);
      continue;
    }
    const ManifestEntry* before = installed != nullptr ? InstalledEntry(entry.name) : nullptr;
    rebuilds_.push_back(PlanRebuild(manifest_, index, before, probe));
  }
  *fetch = std::move(whole);
}

ManifestResult ManifestUpdate::Apply(std::int32_t version) {
  const ManifestResult fetched = FetchChanges();
  return fetched == ManifestResult::Fetched ? CommitChanges(version) : fetched;
}

ManifestResult ManifestUpdate::FetchChanges() {
  GameFiles game(setup_.place.gameDirectory);
  const Manifest* installed = haveInstalled_ ? &installed_ : nullptr;
  plan_ = PlanFetch(manifest_, installed, game);
  return FetchStaged(installed);
}

ManifestResult ManifestUpdate::CommitChanges(std::int32_t version) { return Commit(version, plan_.fetch); }

std::uint64_t ManifestUpdate::ArchiveFileBytes() const {
  std::uint64_t bytes = 0;
  for (const ManifestEntry& entry : manifest_.entries)
    if (!entry.directory) bytes = AddBytes(bytes, StagedFileBytes(entry.size));
  return bytes;
}

bool ManifestUpdate::DescribesInstalled() const {
  return haveInstalled_ && SameDigest(installedDigest_, manifestDigest_);
}

ManifestResult ManifestUpdate::Repair(std::int32_t version) {
  std::uint64_t files = 0;
  std::uint64_t total = 0;
  for (const ManifestEntry& entry : manifest_.entries) {
    if (entry.directory) continue;
    ++files;
    total += entry.size;
  }
  GameFiles game(setup_.place.gameDirectory, setup_.progress, total);
  plan_ = PlanFetch(manifest_, nullptr, game);  // every file read: the manifest vouches for nothing here
  WriteLog("Verified %llu files (%llu bytes): %llu missing or different\n", static_cast<unsigned long long>(files),
           static_cast<unsigned long long>(game.BytesRead()), static_cast<unsigned long long>(plan_.fetch.size()));
  if (plan_.fetch.empty()) return ManifestResult::Installed;
  const ManifestResult result = FetchAndCommit(version, nullptr);
  if (result == ManifestResult::Installed)
    WriteLog("Mended %llu of %llu files\n", static_cast<unsigned long long>(plan_.fetch.size()),
             static_cast<unsigned long long>(plan_.fetch.size()));
  return result;
}

ManifestResult ManifestUpdate::FetchAndCommit(std::int32_t version, const Manifest* installed) {
  const ManifestResult fetched = FetchStaged(installed);
  return fetched == ManifestResult::Fetched ? Commit(version, plan_.fetch) : fetched;
}

ManifestResult ManifestUpdate::FetchStaged(const Manifest* installed) {
  const bool ours = FetchedFolderIsOurs();
  std::vector<std::size_t> fetch = plan_.fetch;
  auto stagedBytes = [&](const std::vector<std::size_t>& entries) {
    std::uint64_t bytes = 0;
    for (std::size_t index : entries) bytes = AddBytes(bytes, StagedFileBytes(manifest_.entries[index].size));
    return bytes;
  };
  const std::uint64_t changedBytes = stagedBytes(fetch);
  if (ours) DropKeptEntries(&fetch);
  const std::uint64_t keptBytes = changedBytes - stagedBytes(fetch);
  PlanRebuilds(installed, ours, &fetch);

  std::sort(fetch.begin(), fetch.end(), [&](std::size_t a, std::size_t b) {
    return manifest_.entries[a].spanOffset < manifest_.entries[b].spanOffset;
  });
  const std::uint64_t gap = Line().Gap();
  const std::vector<FetchRange> spanRanges = CoalesceSpans(manifest_, fetch, gap);
  const std::vector<ChunkPiece> pieces = PiecesToFetch(manifest_, rebuilds_);
  const std::vector<FetchRange> chunkRanges = CoalesceChunks(manifest_, pieces, gap);
  std::uint64_t spanBytes = 0;
  std::uint64_t rangeBytes = 0;
  for (std::size_t index : fetch) spanBytes += manifest_.entries[index].spanLength;
  for (const FetchRange& range : spanRanges) rangeBytes += range.length;
  for (const FetchRange& range : chunkRanges) rangeBytes += range.length;
  if (NeedsWholeArchive(rangeBytes, manifest_.archiveSize)) {
    char cause[96];
    base::FormatInto(cause, sizeof cause, "%llu of %llu bytes are needed", static_cast<unsigned long long>(rangeBytes),
                     static_cast<unsigned long long>(manifest_.archiveSize));
    LogWholeArchive(cause);
    return ManifestResult::WholeArchive;
  }
  if (!ours && !ResetFetchedFolder()) return ManifestResult::Failed;

  // Before the first range: the entries and chunks inflated into Temp\Fetched
  // (less what an earlier run kept there) and the files rebuilt beside them
  // all stay until the commit.
  RoomSizes room;
  room.fetched = AddBytes(stagedBytes(fetch), keptBytes);
  room.fetchedOnDisk = keptBytes;
  for (const ChunkPiece& piece : pieces)
    room.fetched = AddBytes(room.fetched, StagedFileBytes(manifest_.entries[piece.entry].chunks[piece.chunk].length));
  for (const RebuildPlan& rebuild : rebuilds_)
    room.rebuilt = AddBytes(room.rebuilt, StagedFileBytes(manifest_.entries[rebuild.entry].size));
  room.committed = stagedBytes(plan_.fetch);
  room.margin = kStagingMargin;
  if (CheckRoom(room, setup_.tempDirectory, setup_.place.gameDirectory) == RoomVerdict::Short)
    return ManifestResult::NoSpace;

  LogJoiningRule(gap);
  WriteLog("Fetching %llu of %llu entries (%llu bytes) in %llu requests, removing %llu files\n",
           static_cast<unsigned long long>(fetch.size()), static_cast<unsigned long long>(manifest_.entries.size()),
           static_cast<unsigned long long>(spanBytes), static_cast<unsigned long long>(spanRanges.size()),
           static_cast<unsigned long long>(plan_.removedFiles.size()));
  for (const RebuildPlan& rebuild : rebuilds_) {
    const ManifestEntry& entry = manifest_.entries[rebuild.entry];
    WriteLog("Rebuilding %s: %llu of %llu chunks kept, %llu fetched (%llu bytes)\n", entry.name.c_str(),
             static_cast<unsigned long long>(entry.chunks.size() - rebuild.fetchCount),
             static_cast<unsigned long long>(entry.chunks.size()), static_cast<unsigned long long>(rebuild.fetchCount),
             static_cast<unsigned long long>(rebuild.fetchDataBytes));
  }
  RangeProgress progress;
  progress.targets = setup_.progress;
  progress.total = rangeBytes;
  const PieceKind spans{
      [&](const FetchRange& range) { return std::make_unique<RangeStager>(manifest_, range, fetchedFolder_); },
      [&](std::size_t index) { return manifest_.entries[index].spanOffset; },
      [&](std::size_t index) { return StagedFileBytes(manifest_.entries[index].size); }};
  if (!FetchRanges(spanRanges, spans, &progress) || !FetchChunks(pieces, chunkRanges, &progress) ||
      !RebuildFiles(&progress))
    return rangesFailure_;
  return ManifestResult::Fetched;
}

bool ManifestUpdate::FetchChunks(const std::vector<ChunkPiece>& pieces, const std::vector<FetchRange>& ranges,
                                 RangeProgress* progress) {
  const PieceKind chunks{
      [&](const FetchRange& range) {
        return std::make_unique<ChunkRangeStager>(manifest_, pieces, range, fetchedFolder_);
      },
      [&](std::size_t index) {
        const ManifestEntry& entry = manifest_.entries[pieces[index].entry];
        return entry.ChunkDataAt(entry.chunks[pieces[index].chunk]);
      },
      [&](std::size_t index) {
        return StagedFileBytes(manifest_.entries[pieces[index].entry].chunks[pieces[index].chunk].length);
      }};
  return FetchRanges(ranges, chunks, progress);
}

namespace {

// One round's requests on one host: each range's stager lives while its
// request runs, and what it staged is read when the request ends.
class RoundJobs : public RangeJobs {
 public:
  struct Ended {
    RangeOutcome outcome;
    SpanOutcome staged = SpanOutcome::Staged;
    std::size_t stagedCount = 0;
    std::string failedName;
  };
  RoundJobs(const std::vector<const FetchRange*>& ranges,
            const std::function<std::unique_ptr<PieceStager>(const FetchRange&)>& stager)
      : ranges_(ranges), makeStager_(stager), stagers_(ranges.size()), ended_(ranges.size()) {}
  std::size_t Count() const override { return ranges_.size(); }
  std::uint64_t Offset(std::size_t index) const override { return ranges_[index]->offset; }
  std::uint64_t Length(std::size_t index) const override { return ranges_[index]->length; }
  BodyObserver* Begin(std::size_t index) override {
    stagers_[index] = makeStager_(*ranges_[index]);
    return stagers_[index].get();
  }
  void End(std::size_t index, const RangeOutcome& outcome) override {
    Ended& ended = ended_[index];
    ended.outcome = outcome;
    if (!stagers_[index]) return;  // never begun: nothing staged
    ended.staged = stagers_[index]->Finish();
    ended.stagedCount = stagers_[index]->StagedCount();
    if (ended.staged != SpanOutcome::Staged) ended.failedName = stagers_[index]->FailedName();
    stagers_[index].reset();
  }
  const Ended& Result(std::size_t index) const { return ended_[index]; }

 private:
  const std::vector<const FetchRange*>& ranges_;
  const std::function<std::unique_ptr<PieceStager>(const FetchRange&)>& makeStager_;
  std::vector<std::unique_ptr<PieceStager>> stagers_;
  std::vector<Ended> ended_;
};

PieceFault FaultOf(const RoundJobs::Ended& ended, std::size_t pieces) {
  if (ended.staged == SpanOutcome::Staged && ended.stagedCount == pieces) return PieceFault::None;
  switch (ended.outcome.result) {
    case RangeResult::Ignored:
    case RangeResult::OtherRange: return PieceFault::NoRanges;
    case RangeResult::Failed:
      return MayRetry(ended.outcome.failure, ended.outcome.status) ? PieceFault::Passing : PieceFault::Permanent;
    case RangeResult::Received:
    case RangeResult::Stopped: break;  // the bytes came: a piece failed its check
  }
  return PieceFault::Refused;
}

}  // namespace

// Rounds of requests: each range still wanted is asked of the host its route
// names, every host's ranges at once over its connections; a retry, and the
// next host, ask only for the pieces of a range not yet staged.
bool ManifestUpdate::FetchRanges(const std::vector<FetchRange>& ranges, const PieceKind& kind, RangeProgress* progress) {
  rangesFailure_ = ManifestResult::WholeArchive;
  if (ranges.empty()) return true;
  const std::size_t hosts = ArchiveHosts();
  if (!hostPolicy_) hostPolicy_ = std::make_unique<RangeHosts>(hosts, setup_.retry.maxRetries);
  std::vector<std::unique_ptr<RangeFetcher>> fetchers(hosts);
  auto hostUrl = [&](std::size_t host) { return host == 0 ? setup_.archiveUrl : setup_.archiveMirrors[host - 1]; };
  std::vector<FetchRange> left = ranges;
  std::vector<std::uint64_t> wholeLength(ranges.size());
  std::vector<RangeRoute> routes(ranges.size());
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    wholeLength[i] = ranges[i].length;
    routes[i].host = host_;
  }
  std::vector<bool> announced(hosts, false);
  announced[0] = true;
  char cause[kPathSize + 96] = "the ranges could not be fetched";  // the last failure, for the log
  char noRanges[kPathSize + 96] = "";                                // how a host refused ranges
  for (;;) {
    for (std::size_t host = 0; host < hosts; ++host) {
      std::vector<std::size_t> indices;
      std::vector<const FetchRange*> asked;
      for (std::size_t i = 0; i < left.size(); ++i) {
        if (routes[i].done || routes[i].host != host) continue;
        indices.push_back(i);
        asked.push_back(&left[i]);
      }
      if (asked.empty()) continue;
      if (!announced[host]) {
        announced[host] = true;
        WriteLog("Trying the next mirror of the archive (%s)\n", hostUrl(host));
      }
      if (!fetchers[host])
        fetchers[host] = std::make_unique<RangeFetcher>(hostUrl(host), manifest_.archiveSize, setup_.limits);
      RoundJobs jobs(asked, kind.stager);
      fetchers[host]->FetchAll(jobs, *progress);
      if (StopRequested()) return false;  // the player's cancel: the worker logs it
      for (std::size_t j = 0; j < indices.size(); ++j) {
        const std::size_t i = indices[j];
        FetchRange& range = left[i];
        requestedBytes_ += range.length;
        const RoundJobs::Ended& ended = jobs.Result(j);
        const PieceFault fault = FaultOf(ended, range.entries.size());
        hostPolicy_->Record(routes[i], fault, ended.stagedCount != 0);
        if (fault == PieceFault::None) {
          progress->done += wholeLength[i];
          continue;
        }
        if (ended.staged == SpanOutcome::WriteFailed) {
          // Room may have gone since the check: what arrived is kept for a run that has it.
          std::uint64_t rest = 0;
          for (std::size_t k = ended.stagedCount; k < range.entries.size(); ++k)
            rest = AddBytes(rest, kind.stagedBytes(range.entries[k]));
          if (VolumeLacks(fetchedFolder_.c_str(), rest)) {
            WriteLog("Disk full while writing %s: what arrived is kept\n", fetchedFolder_.c_str());
            rangesFailure_ = ManifestResult::NoSpace;
          } else {
            LogWholeArchive("a fetched entry could not be staged");
          }
          return false;
        }
        if (fault == PieceFault::Refused) {
          WriteLog("Rejected body of (%s)\n", hostUrl(host));
          base::FormatTruncated(cause, sizeof cause, "the span of %s failed its check", ended.failedName.c_str());
        } else if (fault == PieceFault::NoRanges) {
          base::FormatTruncated(noRanges, sizeof noRanges,
                                ended.outcome.result == RangeResult::Ignored
                                    ? "the server ignored the range of (%s)"
                                    : "the server answered another range of (%s)",
                                hostUrl(host));
        } else {
          base::FormatTruncated(cause, sizeof cause, "the ranges of (%s) could not be fetched", hostUrl(host));
        }
        // What was staged stays staged: the rest of the range is what is left.
        const std::uint64_t end = range.offset + range.length;
        range.entries.erase(range.entries.begin(),
                            range.entries.begin() + static_cast<std::ptrdiff_t>(ended.stagedCount));
        range.offset = kind.start(range.entries.front());
        range.length = end - range.offset;
      }
    }
    const RoundVerdict verdict = hostPolicy_->EndRound(routes);
    host_ = std::min(hostPolicy_->FirstLiveHost(), hosts - 1);
    if (verdict == RoundVerdict::AllDone) return true;
    if (verdict == RoundVerdict::NoRanges) {
      LogWholeArchive(noRanges);
      return false;
    }
    if (verdict == RoundVerdict::GaveUp) {
      WriteLog("Cannot fetch the archive's ranges: %s; what was fetched is kept\n", cause);
      rangesFailure_ = ManifestResult::FetchFailed;
      return false;
    }
    std::size_t waiting = 0;
    for (const RangeRoute& route : routes) waiting += route.done ? 0 : 1;
    const std::int32_t retry = hostPolicy_->RetryNumber(routes);
    const std::int32_t delay = RetryDelayMs(setup_.retry, retry, NextRandom());
    WriteLog("Retrying %llu ranges of (%s) in %d ms, retry %d\n", static_cast<unsigned long long>(waiting),
             hostUrl(host_), static_cast<int>(delay), static_cast<int>(retry));
    if (setup_.progress != nullptr ? setup_.progress->stop.SleepUnlessStopped(static_cast<DWORD>(delay))
                                   : (::Sleep(static_cast<DWORD>(delay)), false))
      return false;
  }
}

// Every file of chunks written whole from the installed file and the fetched
// chunks, then the chunks go: the staged files are all the commit needs.
// A chunk the installed manifest vouched for that the copy finds changed (a
// damaged installed file) is fetched, and the file written once more.
bool ManifestUpdate::RebuildFiles(RangeProgress* progress) {
  for (RebuildPlan& rebuild : rebuilds_) {
    if (StopRequested()) return false;
    const ManifestEntry& entry = manifest_.entries[rebuild.entry];
    const std::string installedPath = std::string(setup_.place.gameDirectory) + "\\" + entry.name;
    const std::string staged = StagedEntryPath(fetchedFolder_, rebuild.entry, true);
    std::vector<std::size_t> failed;
    RebuildOutcome outcome = RebuildFile(manifest_, rebuild, installedPath, fetchedFolder_, staged, &failed);
    if (outcome == RebuildOutcome::SourceChanged) {
      WriteLog("Rebuilding %s: %llu chunks did not match, fetching them\n", entry.name.c_str(),
               static_cast<unsigned long long>(failed.size()));
      FetchInstead(&rebuild, manifest_, failed);
      std::vector<ChunkPiece> pieces;
      for (std::size_t index : failed) pieces.push_back({rebuild.entry, index});
      if (!FetchChunks(pieces, CoalesceChunks(manifest_, pieces, Line().Gap()), progress)) return false;
      outcome = RebuildFile(manifest_, rebuild, installedPath, fetchedFolder_, staged);
    }
    if (outcome == RebuildOutcome::Staged) continue;
    char cause[kPathSize + 96];
    base::FormatTruncated(cause, sizeof cause,
                          outcome == RebuildOutcome::SourceChanged ? "%s changed while it was rebuilt"
                          : outcome == RebuildOutcome::EntryWrong  ? "the rebuilt %s failed its check"
                                                                   : "a rebuilt %s could not be staged",
                          entry.name.c_str());
    LogWholeArchive(cause);
    rangesFailure_ = ManifestResult::WholeArchive;
    return false;
  }
  base::RemoveTree(ChunkStoreFolder(fetchedFolder_));
  return true;
}

ManifestResult ManifestUpdate::Commit(std::int32_t version, const std::vector<std::size_t>& fetched) {
  JournalRecord record;
  record.version = version;
  for (std::size_t i = 0; i < manifest_.entries.size(); ++i) {
    if (!manifest_.entries[i].directory) continue;
    JournalEntry entry;
    entry.kind = JournalEntryKind::Directory;
    entry.name = manifest_.entries[i].name;
    record.entries.push_back(std::move(entry));
  }
  for (std::size_t index : fetched) {  // in manifest order: the staged numbers rise
    JournalEntry entry;
    entry.staged = static_cast<std::uint32_t>(index);
    entry.size = manifest_.entries[index].size;
    entry.name = manifest_.entries[index].name;
    record.entries.push_back(std::move(entry));
  }
  for (JournalEntry& removal : Removals()) record.entries.push_back(std::move(removal));

  RemoveStagingFolder(setup_.place.stagingDirectory);
  if (!::MoveFileExA(fetchedFolder_.c_str(), setup_.place.stagingDirectory, 0) &&
      !::CreateDirectoryA(setup_.place.stagingDirectory, nullptr)) {
    WriteLog("Failed to MoveFileEx(%s, %s), GetLastError=%d\n", fetchedFolder_.c_str(),
             setup_.place.stagingDirectory, static_cast<int>(::GetLastError()));
    return ManifestResult::Failed;
  }
  UnbindInstalledManifest(setup_.installRecord);
  if (!WriteJournalFile(setup_.place.journalPath, record)) {
    WriteLog("Failed to write %s\n", setup_.place.journalPath);
    RemoveStagingFolder(setup_.place.stagingDirectory);
    return ManifestResult::Failed;
  }
  switch (ApplyCommit(setup_.place, record, /*checkFirst=*/true)) {
    case CommitResult::Applied: return ManifestResult::Installed;
    case CommitResult::Blocked: return ManifestResult::Blocked;
    case CommitResult::Damaged: break;
  }
  EndCommit(setup_.place);
  return ManifestResult::Failed;
}

void ManifestUpdate::KeepAsInstalled() {
  if (!::MoveFileExA(manifestPath_.c_str(), setup_.installedManifest, MOVEFILE_REPLACE_EXISTING)) {
    WriteLog("Failed to MoveFileEx(%s, %s), GetLastError=%d\n", manifestPath_.c_str(), setup_.installedManifest,
             static_cast<int>(::GetLastError()));
    return;
  }
  char hex[kSha256HexSize];
  FormatSha256Hex(manifestDigest_, hex);
  if (!::WritePrivateProfileStringA(kSection, kBindingKey, hex, setup_.installRecord))
    WriteLog("Failed to write %s to %s, GetLastError=%d\n", kBindingKey, setup_.installRecord,
             static_cast<int>(::GetLastError()));
  base::RemoveTree(fetchedFolder_);
}

void ManifestUpdate::UnbindInstalledManifest(const char* installRecord) {
  char hex[2 * kSha256HexSize] = {};
  ::GetPrivateProfileStringA(kSection, kBindingKey, "", hex, sizeof hex, installRecord);
  if (hex[0] != '\0') ::WritePrivateProfileStringA(kSection, kBindingKey, nullptr, installRecord);
}

}  // namespace update
