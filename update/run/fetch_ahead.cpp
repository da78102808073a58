#include "update/run/fetch_ahead.h"

#include <windows.h>
#include <shlwapi.h>

#include "update/download_log.h"
#include "update/run/player_messages.h"

namespace update {

bool AheadFetch::Fetch() {
  const NextRelease& next = descriptor_.next;
  WriteLog("Fetching version %d ahead\n", static_cast<int>(next.version));
  if (FetchPieces()) {
    WriteLog("Fetched version %d ahead\n", static_cast<int>(next.version));
    return true;
  }
  WriteLog("Version %d not fetched ahead\n", static_cast<int>(next.version));
  return false;
}

bool AheadFetch::FetchPieces() {
  const NextRelease& next = descriptor_.next;
  const RunPaths& paths = run_.Paths();
  if (!ComposePath(folder_, sizeof folder_, paths.temp, "Next")) return false;
  if (!::PathFileExistsA(folder_) && !::CreateDirectoryA(folder_, nullptr)) {
    WriteLog("Failed to CreateDirectory(%s), GetLastError=%d\n", folder_, static_cast<int>(::GetLastError()));
    return false;
  }
  char base[kPathSize] = {};
  ::GetPrivateProfileStringA(kLauncherSection, "NextUrl", "", base, sizeof base, paths.versionFile);
  // The queries the live version's would have: the same URLs once it is live.
  const bool composed =
      ComposeManifestUrl(manifestUrl_, sizeof manifestUrl_, next.manifest) &&
      (next.archive.hasDigest ? ComposeDigestUrl(archiveUrl_, sizeof archiveUrl_, base, next.archive.digest)
                              : ComposeTickUrl(archiveUrl_, sizeof archiveUrl_, base, ::GetTickCount()));
  if (!composed || base[0] == '\0') return false;
  setup_ = paths.ManifestSetup(folder_);  // Game planned against; its staging and journal are never used
  setup_.manifest = &next.manifest;
  setup_.archive = next.archive;
  setup_.manifestUrl = manifestUrl_;
  setup_.archiveUrl = archiveUrl_;
  setup_.progress = targets_;
  setup_.limits = run_.Limits();
  setup_.retry = run_.Setup().retry;
  ManifestUpdate update(setup_);
  return update.LoadManifest() && update.FetchChanges() == ManifestResult::Fetched;
}

}  // namespace update
