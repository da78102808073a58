// The trust step of an update, between fetching the version descriptor and
// acting on it: the operator's public keys from Data\Config.cfg, the check of
// the fetched descriptor against its fetched signature, what the descriptor
// announces about the archive (Sha256, Size), and the log lines of every
// refusal. With no key configured nothing here refuses an unsigned descriptor.
#pragma once

#include <cstddef>

#include "update/directory_levels.h"
#include "update/trust/archive_digest.h"
#include "update/trust/descriptor_signature.h"

namespace update {

// [VersionCDN] PublicKey and PublicKey2: an operator rolls keys over by
// configuring the new key beside the old one.
struct TrustedKeys {
  MinisignPublicKey keys[2];
  std::size_t count = 0;
  bool Configured() const { return count != 0; }
};

// Empty or missing values configure nothing. False, after its log line, when
// a configured value is not a minisign public key.
bool LoadTrustedKeys(const char* publicKey, const char* publicKey2, TrustedKeys* out);

// Checks the descriptor file against the signature file, both read with a
// bound. False, after a log line that says why, when it does not verify.
bool CheckDescriptorSignature(const char* descriptorPath, const char* signaturePath, const TrustedKeys& keys);

// Reads "Launcher"/"Sha256" and "Launcher"/"Size" of the descriptor. False,
// after its log line, when one is present but malformed, or when `digestRequired`
// (a key is configured) and Sha256 is missing: a signature would then protect
// nothing of the archive.
// With `prefix` ("Next") the same keys of the next version are read
// ("NextSha256", "NextSize"), and the log lines name them so.
bool ReadArchiveExpectation(const char* descriptorPath, bool digestRequired, ArchiveExpectation* out,
                            const char* prefix = "");

// What the descriptor says about the archive's manifest: "Manifest" (its
// URL), "ManifestSha256" and "ManifestSize". Without a URL there is no
// manifest and the update fetches the whole archive.
struct ManifestExpectation {
  char url[kPathSize] = {};
  ArchiveExpectation content;  // the manifest file's digest and size
  bool Named() const { return url[0] != '\0'; }
};

// Reads the manifest's keys. False, after its log line, when ManifestSha256
// or ManifestSize is present but malformed, or when `digestRequired` (a key
// is configured) and a manifest is named without its ManifestSha256: the
// signature would then protect none of the entries.
// `prefix` as for ReadArchiveExpectation ("NextManifest", ...).
bool ReadManifestExpectation(const char* descriptorPath, bool digestRequired, ManifestExpectation* out,
                             const char* prefix = "");

// Refusals met before a signature can be checked: the descriptor or its
// signature arrived larger than its bound, or the signature could not be
// fetched. The fetch logs them through here, so that every "Refused
// version.cfg" line is written in one place.
enum class DescriptorRefusal { DescriptorTooLarge, SignatureTooLarge, SignatureNotFetched };
void LogDescriptorRefusal(DescriptorRefusal refusal);

// The log line of an archive that failed its check: expected and received.
void LogArchiveRefusal(ArchiveCheck check, const ArchiveVerifier& verifier);

}  // namespace update
