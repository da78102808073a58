// The check phase of a run: the operator's keys, the version descriptor
// fetched with the tick query from [VersionCDN] Url (else Url2 and Url3 in
// turn, each after its own retries; under a key its signature from the same
// host, both bounded in size), the signature checked, and what the
// descriptor announces about the archive and its manifest read. Every
// refusal is logged here; what the run does then is the run's.
#pragma once

#include <windows.h>

#include <cstdint>

#include "update/run/run_shared.h"
#include "update/trust/descriptor_trust.h"

namespace update {

// What a descriptor announces of the next version, which a current client
// fetches ahead before it goes live: NextVersion, NextUrl, NextSha256,
// NextSize, NextManifest, NextManifestSha256, NextManifestSize, covered by
// the same signature.
struct NextRelease {
  bool named = false;  // NextVersion is given
  std::int32_t version = 0;
  ArchiveExpectation archive;
  ManifestExpectation manifest;
};

// What a trusted descriptor announces about the live version.
struct TrustedDescriptor {
  std::int32_t version = 0;        // "Version", 0 when absent
  bool signedByKey = false;        // a configured key's signature was checked
  ArchiveExpectation archive;      // Sha256, Size
  ManifestExpectation manifest;    // Manifest, ManifestSha256, ManifestSize
  DWORD fetchedAt = 0;             // the tick count of its request
  NextRelease next;
};

class VersionCheck {
 public:
  explicit VersionCheck(RunShared& run) : run_(run) {}

  // [VersionCDN] PublicKey and PublicKey2. False, logged, when one is malformed.
  bool LoadKeys();
  // version.cfg (and, under a key, its signature) into Temp. False, logged,
  // when no host served it.
  bool Fetch();
  // The signature checked (under a key) and the announcements read. False,
  // logged, when the descriptor is refused.
  bool Trust(TrustedDescriptor* out) const;

  bool SignedByKey() const { return keys_.Configured(); }

 private:
  bool FetchFrom(const char* base);
  bool FetchSignature();

  RunShared& run_;
  TrustedKeys keys_;
  const char* base_ = "";  // the [VersionCDN] URL version.cfg came from
  DWORD tick_ = 0;
};

}  // namespace update
