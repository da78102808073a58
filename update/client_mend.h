// Mending a verified client: only the entries that the verification found
// missing or different are extracted again from the archive over the client
// directory. Files the archive does not name, and entries found intact, are
// not touched.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/client_verify.h"

namespace progress { struct ProgressTargets; }

namespace update {

struct MendReport {
  bool archiveReadable = false;    // false: nothing could be extracted at all
  std::uint64_t mended = 0;        // entries written again and checked
  std::vector<std::string> failed; // entries that could not be written (held open, no room, ...)
};

// Extracts the `damaged` entries of the archive at `archivePath` below
// `clientDirectory`, each checked against its CRC. A failed entry does not
// stop the others; it is listed in the report. The share of entries done
// goes to progress->upperTarget (when not null).
MendReport MendClient(const char* clientDirectory, const char* archivePath,
                      const std::vector<DamagedEntry>& damaged,
                      progress::ProgressTargets* progress = nullptr);

}  // namespace update
