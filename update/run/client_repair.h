// The repair step of a run, between the update and the game's start: Game
// verified against the installed version and what differs mended. With the
// installed version's manifest on the server, the damaged entries are
// fetched as ranges; otherwise the archive kept in Temp is used when it is
// the one installed, fetched again when the server still offers it, and the
// client updated as a whole when it does not.
#pragma once

#include <cstdint>
#include <functional>

#include "update/run/version_check.h"
#include "update/run/run_shared.h"
#include "update/run/update_commit.h"
#include "update/run/update_fetch.h"
#include "update/verify/client_verify.h"

namespace update {

class ClientRepair {
 public:
  // `updateWhole` runs the run's own update of the live version (fetch and
  // commit); false when it closed the launcher.
  ClientRepair(RunShared& run, const TrustedDescriptor& descriptor, UpdateFetch& fetch, UpdateCommit& commit,
               std::function<bool()> updateWhole)
      : run_(run), descriptor_(descriptor), fetch_(fetch), commit_(commit), updateWhole_(std::move(updateWhole)) {}

  // False when the launcher was closed.
  bool Repair(bool archiveJustInstalled);

 private:
  enum class ManifestRepair { Done, Closed, WithArchive };
  ManifestRepair RepairByManifest();
  bool CachedArchiveIsInstalled();
  bool ServerOffersInstalledArchive() const;
  bool Mend(const std::vector<DamagedEntry>& damaged);

  RunShared& run_;
  const TrustedDescriptor& descriptor_;
  UpdateFetch& fetch_;
  UpdateCommit& commit_;
  std::function<bool()> updateWhole_;
};

}  // namespace update
