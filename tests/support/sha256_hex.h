// The SHA-256 of some bytes in lower-case hex, as a descriptor's Sha256 or a
// manifest gives it, taken with the launcher's own streaming digest.
#pragma once

#include <string>

#include "update/trust/archive_digest.h"

namespace testing_files {

inline std::string Sha256Hex(const std::string& bytes) {
  update::ArchiveVerifier hasher{update::ArchiveExpectation{}};
  hasher.OnBody(bytes.data(), bytes.size());
  hasher.Finish();
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(hasher.ReceivedDigest(), hex);
  return hex;
}

}  // namespace testing_files
