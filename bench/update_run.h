// What the update benches share: the folder of one launcher run (Game, Temp,
// the journal, install.cfg and install.manifest) and a stopwatch.
#pragma once

#include <chrono>
#include <string>

#include "update/incremental/manifest_update.h"
#include "update/install/commit.h"

namespace bench {

inline double Since(const std::chrono::steady_clock::time_point& start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct Paths {
  std::string root, game, temp, staging, journal, record, installed, descriptor;
  explicit Paths(const std::string& r)
      : root(r), game(r + "\\Game"), temp(r + "\\Temp"), staging(r + "\\Temp\\Staging"),
        journal(r + "\\Temp\\commit.journal"), record(r + "\\install.cfg"), installed(r + "\\install.manifest"),
        descriptor(r + "\\version.cfg") {}
  update::CommitPlace Place() const {
    update::CommitPlace place;
    place.gameDirectory = game.c_str();
    place.stagingDirectory = staging.c_str();
    place.journalPath = journal.c_str();
    return place;
  }
  // An update by manifest of this folder; the pointed-to values must outlive it.
  update::ManifestUpdateSetup ManifestSetup(const update::ManifestExpectation& manifest,
                                            const update::ArchiveExpectation& archive, const char* manifestUrl,
                                            const char* archiveUrl) const {
    update::ManifestUpdateSetup setup;
    setup.place = Place();
    setup.tempDirectory = temp.c_str();
    setup.installRecord = record.c_str();
    setup.installedManifest = installed.c_str();
    setup.manifest = &manifest;
    setup.archive = archive;
    setup.manifestUrl = manifestUrl;
    setup.archiveUrl = archiveUrl;
    return setup;
  }
};

}  // namespace bench
