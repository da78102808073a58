#include "update/trust/descriptor_trust.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "base/guards.h"
#include "update/download_log.h"

namespace update {

namespace {

const char kSection[] = "Launcher";

enum class FileRead { Read, TooLarge, Unreadable };

// Reads at most `limit` bytes; a longer file is refused without reading on.
FileRead ReadBounded(const char* path, std::size_t limit, std::string* out) {
  out->clear();
  base::UniqueFile in(std::fopen(path, "rb"));
  if (!in) return FileRead::Unreadable;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, in.Get())) > 0) {
    if (out->size() + n > limit) return FileRead::TooLarge;
    out->append(buffer, n);
  }
  return std::ferror(in.Get()) ? FileRead::Unreadable : FileRead::Read;
}

bool LoadKey(const char* name, const char* value, TrustedKeys* out) {
  if (value == nullptr || value[0] == '\0') return true;
  if (!ParsePublicKey(value, &out->keys[out->count])) {
    WriteLog("%s in Config.cfg is not a minisign public key\n", name);
    return false;
  }
  ++out->count;
  return true;
}

}  // namespace

bool LoadTrustedKeys(const char* publicKey, const char* publicKey2, TrustedKeys* out) {
  *out = TrustedKeys{};
  return LoadKey("PublicKey", publicKey, out) && LoadKey("PublicKey2", publicKey2, out);
}

bool CheckDescriptorSignature(const char* descriptorPath, const char* signaturePath, const TrustedKeys& keys) {
  std::string signatureText;
  MinisignSignature signature;
  switch (ReadBounded(signaturePath, kMaxSignatureFileBytes, &signatureText)) {
    case FileRead::Unreadable:
      WriteLog("Refused version.cfg: cannot read version.cfg.minisig\n");
      return false;
    case FileRead::TooLarge:
      LogDescriptorRefusal(DescriptorRefusal::SignatureTooLarge);
      return false;
    case FileRead::Read:
      break;
  }
  switch (ParseSignatureFile(signatureText.data(), signatureText.size(), &signature)) {
    case SignatureParse::Parsed:
      break;
    case SignatureParse::TooLarge:
      LogDescriptorRefusal(DescriptorRefusal::SignatureTooLarge);
      return false;
    case SignatureParse::Malformed:
      WriteLog("Refused version.cfg: version.cfg.minisig is not a minisign signature\n");
      return false;
    case SignatureParse::UnknownAlgorithm:
      WriteLog("Refused version.cfg: version.cfg.minisig uses an unknown signature algorithm\n");
      return false;
  }

  std::string descriptor;
  switch (ReadBounded(descriptorPath, kMaxSignedDescriptorBytes, &descriptor)) {
    case FileRead::Unreadable:
      WriteLog("Refused version.cfg: cannot read it\n");
      return false;
    case FileRead::TooLarge:
      LogDescriptorRefusal(DescriptorRefusal::DescriptorTooLarge);
      return false;
    case FileRead::Read:
      break;
  }

  char keyId[kKeyIdTextSize];
  switch (VerifyDescriptor(descriptor.data(), descriptor.size(), signature, keys.keys, keys.count)) {
    case DescriptorCheck::Valid:
      return true;
    case DescriptorCheck::OtherKey:
      FormatKeyId(signature.keyId, keyId);
      WriteLog("Refused version.cfg: signed by key %s, which is not configured\n", keyId);
      return false;
    case DescriptorCheck::BadSignature:
      WriteLog("Refused version.cfg: the signature does not match the file\n");
      return false;
    case DescriptorCheck::BadTrustedComment:
      WriteLog("Refused version.cfg: the trusted comment does not match its signature\n");
      return false;
  }
  return false;
}

bool ReadArchiveExpectation(const char* descriptorPath, bool digestRequired, ArchiveExpectation* out,
                            const char* prefix) {
  *out = ArchiveExpectation{};
  const std::string sha256 = std::string(prefix) + "Sha256";
  const std::string size = std::string(prefix) + "Size";
  char value[MAX_PATH] = {};
  ::GetPrivateProfileStringA(kSection, sha256.c_str(), "", value, sizeof value, descriptorPath);
  if (value[0] != '\0') {
    if (!ParseSha256Hex(value, &out->digest)) {
      WriteLog("Refused version.cfg: %s is not 64 hex digits\n", sha256.c_str());
      return false;
    }
    out->hasDigest = true;
  } else if (digestRequired) {
    WriteLog("Refused version.cfg: a public key is configured and it names no %s\n", sha256.c_str());
    return false;
  }
  ::GetPrivateProfileStringA(kSection, size.c_str(), "", value, sizeof value, descriptorPath);
  if (value[0] != '\0') {
    if (!ParseByteCount(value, &out->size)) {
      WriteLog("Refused version.cfg: %s is not a byte count\n", size.c_str());
      return false;
    }
    out->hasSize = true;
  }
  return true;
}

bool ReadManifestExpectation(const char* descriptorPath, bool digestRequired, ManifestExpectation* out,
                             const char* prefix) {
  *out = ManifestExpectation{};
  const std::string manifest = std::string(prefix) + "Manifest";
  const std::string sha256 = manifest + "Sha256";
  const std::string size = manifest + "Size";
  ::GetPrivateProfileStringA(kSection, manifest.c_str(), "", out->url, sizeof out->url, descriptorPath);
  if (!out->Named()) return true;
  char value[MAX_PATH] = {};
  ::GetPrivateProfileStringA(kSection, sha256.c_str(), "", value, sizeof value, descriptorPath);
  if (value[0] != '\0') {
    if (!ParseSha256Hex(value, &out->content.digest)) {
      WriteLog("Refused version.cfg: %s is not 64 hex digits\n", sha256.c_str());
      return false;
    }
    out->content.hasDigest = true;
  } else if (digestRequired) {
    WriteLog("Refused version.cfg: a public key is configured and its %s has no %s\n", manifest.c_str(),
             sha256.c_str());
    return false;
  }
  ::GetPrivateProfileStringA(kSection, size.c_str(), "", value, sizeof value, descriptorPath);
  if (value[0] != '\0') {
    if (!ParseByteCount(value, &out->content.size)) {
      WriteLog("Refused version.cfg: %s is not a byte count\n", size.c_str());
      return false;
    }
    out->content.hasSize = true;
  }
  return true;
}

void LogDescriptorRefusal(DescriptorRefusal refusal) {
  switch (refusal) {
    case DescriptorRefusal::DescriptorTooLarge:
      WriteLog("Refused version.cfg: larger than %u bytes\n", static_cast<unsigned>(kMaxSignedDescriptorBytes));
      return;
    case DescriptorRefusal::SignatureTooLarge:
      WriteLog("Refused version.cfg: version.cfg.minisig is larger than %u bytes\n",
               static_cast<unsigned>(kMaxSignatureFileBytes));
      return;
    case DescriptorRefusal::SignatureNotFetched:
      WriteLog("Refused version.cfg: version.cfg.minisig not fetched\n");
      return;
  }
}

void LogArchiveRefusal(ArchiveCheck check, const ArchiveVerifier& verifier) {
  const ArchiveExpectation& expected = verifier.Expected();
  switch (check) {
    case ArchiveCheck::Match:
      return;
    case ArchiveCheck::TooLarge:
      WriteLog("Refused archive: expected %llu bytes, received more (%llu when the transfer was stopped)\n",
               static_cast<unsigned long long>(expected.size), static_cast<unsigned long long>(verifier.Received()));
      return;
    case ArchiveCheck::SizeMismatch:
      WriteLog("Refused archive: expected %llu bytes, received %llu\n", static_cast<unsigned long long>(expected.size),
               static_cast<unsigned long long>(verifier.Received()));
      return;
    case ArchiveCheck::DigestMismatch: {
      char want[kSha256HexSize];
      char got[kSha256HexSize];
      FormatSha256Hex(expected.digest, want);
      FormatSha256Hex(verifier.ReceivedDigest(), got);
      WriteLog("Refused archive: expected Sha256 %s, received %s\n", want, got);
      return;
    }
  }
}

}  // namespace update
