// An update guided by the archive's manifest: only the entries whose content
// differs from the installed client are fetched, as ranges of the one full
// archive, staged (update/incremental/span_staging.h) and committed with the
// removal of what the new version dropped. Whatever stands in the way (no
// manifest, a server without ranges, an answer that fails its checks, more
// than half the archive needed) is logged as "Fetching the whole archive:
// CAUSE", and the caller installs the whole archive as before.
//
// A changed file deflated in chunks is rebuilt instead: the chunks the
// installed file still holds are copied from it, only the others are fetched
// (update/incremental/chunk_staging.h).
//
// Entries already fetched survive a kill: they wait in Temp\Fetched, bound
// to the manifest's SHA-256 by Temp\Fetched\manifest.sha256, under their
// staged names, and a later run for the same manifest keeps them. The commit
// renames the folder to Temp\Staging and goes on as every commit does.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "update/install/commit.h"
#include "update/incremental/range_hosts.h"
#include "update/incremental/span_staging.h"
#include "update/install/commit_journal.h"
#include "update/manifest/chunk_plan.h"
#include "update/manifest/fetch_plan.h"
#include "update/manifest/manifest.h"
#include "update/transfer/line_meter.h"
#include "update/transfer/range_fetch.h"
#include "update/transfer/transfer_limits.h"
#include "update/transfer/transfer_retry.h"
#include "update/trust/descriptor_trust.h"

namespace progress { struct ProgressTargets; }

namespace update {

struct ManifestUpdateSetup {
  CommitPlace place;                         // Game, Temp\Staging, Temp\commit.journal
  const char* tempDirectory = nullptr;       // Temp
  const char* installRecord = nullptr;       // install.cfg: its ManifestSha256 names install.manifest
  const char* installedManifest = nullptr;   // install.manifest
  const ManifestExpectation* manifest = nullptr;  // the descriptor's Manifest keys
  ArchiveExpectation archive;                // the descriptor's Sha256 and Size
  const char* manifestUrl = nullptr;         // the manifest's URL, with its query
  const char* archiveUrl = nullptr;          // the archive's URL, as the whole download asks for it
  const char* manifestMirrors[2] = {};       // Manifest2, Manifest3 (null or empty: none)
  const char* archiveMirrors[2] = {};        // Url2, Url3, tried in turn once a host is given up on
  progress::ProgressTargets* progress = nullptr;
  TransferLimits limits;
  RetryTiming retry;
};

enum class ManifestResult {
  Installed,     // every changed entry is in Game and the dropped ones are gone
  Fetched,       // every changed entry waits in Temp\Fetched; Game is unchanged
  WholeArchive,  // nothing was changed in Game; the cause is logged
  Failed,        // staging or the commit failed; logged
  NoSpace,       // "Not enough disk space on ROOT: ..." is logged and nothing was fetched, or the volume
                 // filled while the ranges were staged ("Disk full while writing ..."); what arrived is kept
  FetchFailed,   // no host served what was left of the ranges; logged; what was staged is kept
  Blocked,       // a target could not be replaced or removed; the journal stays
};

class ManifestUpdate {
 public:
  explicit ManifestUpdate(const ManifestUpdateSetup& setup);
  ~ManifestUpdate();
  ManifestUpdate(const ManifestUpdate&) = delete;
  ManifestUpdate& operator=(const ManifestUpdate&) = delete;

  // Fetches the manifest into Temp and checks it. False, after the line that
  // says why, when the update has to fetch the whole archive.
  bool LoadManifest();

  // Fetches and commits what `version` changes. Only after LoadManifest.
  ManifestResult Apply(std::int32_t version);
  // Apply in two phases: FetchChanges brings what the new version changes into
  // Temp\Fetched (Fetched, or WholeArchive, Failed, NoSpace) and leaves Game
  // alone; CommitChanges, after Fetched, commits it as `version`.
  ManifestResult FetchChanges();
  ManifestResult CommitChanges(std::int32_t version);

  // Entries fetched ahead for this very manifest, in `aheadFolder` (bound to
  // it as Temp\Fetched is, by its manifest.sha256), become this update's:
  // the folder takes Temp\Fetched's place, unless Temp\Fetched holds this
  // manifest's entries already ("Kept N entries fetched ahead" then says
  // what they saved). True when the folder was this manifest's. Only after
  // LoadManifest, before FetchChanges.
  bool TakeFetchedAhead(const std::string& aheadFolder);

  // Whether the fetched manifest is the one install.cfg binds: that of the
  // installed version. Only after LoadManifest.
  bool DescribesInstalled() const;

  // A repair of the installed `version`: every file the manifest names is
  // checked in Game by size and then CRC-32 ("Verified N files (B bytes): D
  // missing or different"), and only the damaged ones are fetched as ranges
  // and committed ("Mended D of D files"); nothing is removed. Only after
  // LoadManifest, when DescribesInstalled.
  ManifestResult Repair(std::int32_t version);

  // The files and directories the new version dropped, for a journal (none
  // without an installed manifest). Only after LoadManifest.
  std::vector<JournalEntry> Removals() const;

  // The archive's bytes asked for by range requests so far (gaps included).
  std::uint64_t RequestedBytes() const { return requestedBytes_; }

  // The room the archive's files take once unpacked: every file rounded up
  // to whole clusters (see StagedFileBytes). Only after LoadManifest.
  std::uint64_t ArchiveFileBytes() const;

  // The archive the manifest describes.
  const Sha256Digest& ArchiveDigest() const { return manifest_.archiveSha256; }

  // Once the version is recorded: the manifest becomes install.manifest and
  // install.cfg records its SHA-256; the fetched entries' folder goes.
  void KeepAsInstalled();

  // Before anything of Game changes: install.cfg stops naming an installed
  // manifest, so that a commit cut short is never taken for the client the
  // manifest describes (a later update then checks Game file by file).
  static void UnbindInstalledManifest(const char* installRecord);

 private:
  // The pieces of one kind of request (spans or chunks): how a request's
  // bytes are staged, and where each piece starts in the archive.
  struct PieceKind {
    std::function<std::unique_ptr<PieceStager>(const FetchRange&)> stager;
    std::function<std::uint64_t(std::size_t)> start;
    std::function<std::uint64_t(std::size_t)> stagedBytes;  // the room a piece takes once staged
  };

  bool StopRequested() const;
  const LineMeter& Line() const;
  void LogJoiningRule(std::uint64_t gap) const;
  std::size_t ArchiveHosts() const;
  bool ReadInstalledManifest();
  const ManifestEntry* InstalledEntry(const std::string& name) const;
  ManifestResult FetchAndCommit(std::int32_t version, const Manifest* installed);
  ManifestResult FetchStaged(const Manifest* installed);
  bool FetchedFolderIsOurs() const;
  void DropKeptEntries(std::vector<std::size_t>* fetch) const;
  bool ResetFetchedFolder();
  void PlanRebuilds(const Manifest* installed, bool storeUsable, std::vector<std::size_t>* fetch);
  bool FetchRanges(const std::vector<FetchRange>& ranges, const PieceKind& kind, RangeProgress* progress);
  bool FetchChunks(const std::vector<ChunkPiece>& pieces, const std::vector<FetchRange>& ranges,
                   RangeProgress* progress);
  bool RebuildFiles(RangeProgress* progress);
  ManifestResult Commit(std::int32_t version, const std::vector<std::size_t>& fetched);

  const ManifestUpdateSetup& setup_;
  std::string manifestPath_;   // Temp\ClientContent.manifest
  std::string fetchedFolder_;  // Temp\Fetched
  Manifest manifest_;
  Sha256Digest manifestDigest_;
  bool haveInstalled_ = false;
  Sha256Digest installedDigest_;
  Manifest installed_;
  FetchPlan plan_;
  std::vector<RebuildPlan> rebuilds_;  // the changed files of chunks rebuilt from their chunks
  std::uint64_t requestedBytes_ = 0;
  std::size_t host_ = 0;  // where later ranges start: 0: archiveUrl, else archiveMirrors[host_ - 1]
  std::unique_ptr<RangeHosts> hostPolicy_;
  bool gapLogged_ = false;  // the hosts given up on, for every request of the run
  ManifestResult rangesFailure_ = ManifestResult::WholeArchive;  // what a failed FetchRanges means
  const char* keptFrom_ = "by an earlier run";  // how the kept entries came to Temp\Fetched
};

}  // namespace update
