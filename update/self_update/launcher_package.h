// The launcher's package: a ZIP with Launcher.exe at its root and, beside
// it, files under Data/ (skin images, Config.cfg). Fetched as any transfer
// is (resumed, by its digest's URL, from the mirrors in turn, within the
// cap, until the stop request), checked against its announced size and
// digest while it streams, and unpacked with the client's name rules into a
// folder of its own, where the current Data fills in what the package does
// not bring, so that the new executable can be tried as it will run.
#pragma once

#include <string>
#include <vector>

#include "update/self_update/launcher_offer.h"
#include "update/transfer/http_download.h"

namespace progress { struct ProgressTargets; }

namespace update {

struct PackageTransfer {
  progress::ProgressTargets* progress = nullptr;
  TransferLimits limits{};
  RetryTiming retry{};
};

enum class PackageFetch {
  Fetched,
  Refused,  // every host's bytes failed the size or digest check; `cause` says how
  Failed,   // the transfers failed (logged): another run may succeed
  Stopped,  // the stop request
};

// Fetches the package into `partPath` (its digest recorded in `recordPath`,
// so that a later run goes on from what arrived).
PackageFetch FetchLauncherPackage(const LauncherOffer& offer, const std::string& partPath,
                                  const std::string& recordPath, const PackageTransfer& transfer,
                                  std::string* cause);

enum class PackageUnpack {
  Unpacked,
  Refused,  // not a launcher package, a name the rules refuse, or data that fails its CRC
  Failed,   // the folder could not be written
};

// Unpacks the package at `packagePath` into `folder` (made fresh) and copies
// in every file of `currentData` that the package does not bring. `named`
// receives the package's files, relative to the folder ("Launcher.exe" first,
// then "Data\..." in archive order).
PackageUnpack UnpackLauncherPackage(const std::string& packagePath, const std::string& folder,
                                    const std::string& currentData, std::vector<std::string>* named,
                                    std::string* cause);

}  // namespace update
