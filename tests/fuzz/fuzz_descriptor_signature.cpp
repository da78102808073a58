// minisign's public key line and signature file as the launcher parses them
// from a server and from Data\Config.cfg, and the check of a descriptor
// against whatever signature parsed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/trust/descriptor_signature.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string keyText = in.ConsumeRandomLengthString(300);
  const std::string descriptor = in.ConsumeRandomLengthString(2000);
  const std::string signatureText = in.ConsumeRemainingBytesAsString();

  update::MinisignPublicKey key;
  std::memset(&key, 0xA5, sizeof key);
  const update::MinisignPublicKey before = key;
  const bool keyParsed = update::ParsePublicKey(keyText.c_str(), &key);
  if (!keyParsed) FUZZ_CHECK(std::memcmp(&key, &before, sizeof key) == 0);  // a refusal leaves it alone
  char id[update::kKeyIdTextSize];
  update::FormatKeyId(key.keyId, id);
  FUZZ_CHECK(std::strlen(id) == 16);

  update::MinisignSignature signature;
  const update::SignatureParse parse =
      update::ParseSignatureFile(signatureText.data(), signatureText.size(), &signature);
  if (signatureText.size() > update::kMaxSignatureFileBytes) FUZZ_CHECK(parse == update::SignatureParse::TooLarge);
  if (parse != update::SignatureParse::Parsed) return 0;
  FUZZ_CHECK(signature.trustedComment.size() < signatureText.size());
  FUZZ_CHECK(signature.trustedComment.find('\n') == std::string::npos);

  const update::DescriptorCheck check =
      update::VerifyDescriptor(descriptor.data(), descriptor.size(), signature, &key, keyParsed ? 1 : 0);
  if (!keyParsed) FUZZ_CHECK(check == update::DescriptorCheck::OtherKey);
  if (keyParsed && std::memcmp(key.keyId, signature.keyId, sizeof key.keyId) != 0)
    FUZZ_CHECK(check == update::DescriptorCheck::OtherKey);
  return 0;
}
