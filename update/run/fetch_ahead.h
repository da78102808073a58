// The fetch ahead of the next version: a client that is current, while the
// page shows, fetches what the version the descriptor names as next will
// need (by its manifest: the changed entries and chunks, as ranges of its
// archive) into Temp\Next\Fetched, bound to that manifest. Nothing of it is
// ever installed from there: once a later descriptor names that version as
// the live one, with that manifest, its update takes the pieces ("Kept N
// entries fetched ahead") and fetches only the rest. The click, and the
// launcher's exit, end it within a second.
#pragma once

#include "update/incremental/manifest_update.h"
#include "update/run/run_shared.h"
#include "update/run/version_check.h"

namespace progress { struct ProgressTargets; }

namespace update {

class AheadFetch {
 public:
  // `targets` counts its bytes and carries the request that ends it.
  AheadFetch(RunShared& run, const TrustedDescriptor& descriptor, progress::ProgressTargets* targets)
      : run_(run), descriptor_(descriptor), targets_(targets) {}
  AheadFetch(const AheadFetch&) = delete;
  AheadFetch& operator=(const AheadFetch&) = delete;

  // True when every piece the next version needs waits in Temp\Next\Fetched
  // ("Fetched version N ahead"); otherwise "Version N not fetched ahead" is
  // logged after the step's own line.
  bool Fetch();

 private:
  bool FetchPieces();

  RunShared& run_;
  const TrustedDescriptor& descriptor_;
  progress::ProgressTargets* targets_;
  char folder_[kPathSize] = {};
  char manifestUrl_[kPathSize] = {};
  char archiveUrl_[kPathSize] = {};
  ManifestUpdateSetup setup_;
};

}  // namespace update
