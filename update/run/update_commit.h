// The commit phase of a run: what the fetch brought into Temp goes into
// Game through the journaled commit (update/install/commit.h), and
// install.cfg records the version, the archive's digest and, with a
// manifest, install.manifest. Also the recovery of a commit that an earlier
// run began, which is finished before anything else. The phase that
// changes Game: it runs only once the page has asked for the game.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "update/run/run_shared.h"
#include "update/run/update_fetch.h"
#include "update/trust/archive_digest.h"

namespace update {

enum class CommitOutcome {
  Installed,  // the version is in Game and recorded
  NoSpace,    // the staging found its volume short; Game is unchanged
  Failed,     // logged; Game is unchanged, or the journal stays for the next start
  Stopped,    // a stop request came while the archive was staged; Game is unchanged
};

class UpdateCommit {
 public:
  explicit UpdateCommit(RunShared& run) : run_(run) {}

  // A commit that an earlier run began is finished (and its version
  // recorded). False when a target cannot be replaced.
  bool FinishInterrupted();

  // Commits what `fetch` brought for `version` (its outcome ByManifest or
  // WholeArchive) and records it. A failure logs "Failed to install game"
  // (but a cancel does not).
  CommitOutcome CommitFetched(UpdateFetch& fetch, FetchOutcome fetched, std::int32_t version);

  // Stages `names` of the archive again and commits them as `version` of
  // itself; `committed` counts the files brought into Game.
  InstallResult CommitSelection(const char* archiveFile, std::int32_t version, const std::set<std::string>& names,
                                std::uint64_t* committed);

  // The client is complete whether or not the record can be written, so the
  // game still starts; but a record that did not take makes every later run
  // install the archive again, which the log must explain.
  void RecordVersion(std::int32_t version);
  // The installed archive's SHA-256 goes beside the version; a digest that is
  // not known removes an older one rather than leave it naming another archive.
  void RecordArchiveDigest(const UpdateFetch& fetch);
  bool RecordedArchiveDigest(Sha256Digest* digest) const;
  std::int32_t InstalledVersion() const;

 private:
  RunShared& run_;
};

}  // namespace update
