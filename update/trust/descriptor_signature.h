// The signature of the version descriptor, in minisign's formats: a public key
// (the base64 line of a ".pub" file: algorithm "Ed", an 8-byte key id, the
// 32-byte Ed25519 key) and a ".minisig" file (an untrusted comment line, the
// base64 signature with its algorithm and key id, a "trusted comment: " line
// and the base64 global signature over signature and trusted comment). The
// signature is over BLAKE2b-512 of the file ("ED", prehashed, minisign's
// default) or over the file itself ("Ed", the legacy form). Pure: no windows.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace update {

// A signature file is a few hundred bytes; anything past this is refused
// unread. A signed descriptor is a few lines; it is read whole to be checked.
constexpr std::size_t kMaxSignatureFileBytes = 4096;
constexpr std::size_t kMaxSignedDescriptorBytes = 65536;

constexpr std::size_t kKeyIdSize = 8;
constexpr std::size_t kPublicKeySize = 32;
constexpr std::size_t kSignatureSize = 64;

struct MinisignPublicKey {
  std::uint8_t keyId[kKeyIdSize] = {};
  std::uint8_t key[kPublicKeySize] = {};
};

// The base64 line of a public key; blanks around it are ignored. False leaves
// `out` alone.
bool ParsePublicKey(const char* text, MinisignPublicKey* out);

// A key id as minisign shows it: 16 upper-case hex digits, last byte first.
constexpr std::size_t kKeyIdTextSize = 17;
void FormatKeyId(const std::uint8_t (&keyId)[kKeyIdSize], char (&out)[kKeyIdTextSize]);

enum class SignatureAlgorithm { Prehashed, Legacy };

struct MinisignSignature {
  SignatureAlgorithm algorithm = SignatureAlgorithm::Prehashed;
  std::uint8_t keyId[kKeyIdSize] = {};
  std::uint8_t signature[kSignatureSize] = {};
  std::string trustedComment;  // without its "trusted comment: " prefix and line end
  std::uint8_t globalSignature[kSignatureSize] = {};
};

enum class SignatureParse {
  Parsed,
  TooLarge,          // more than kMaxSignatureFileBytes
  Malformed,         // not the four lines of a signature file
  UnknownAlgorithm,  // well formed, but neither "ED" nor "Ed"
};

// Lines end in "\n" or "\r\n"; only line ends may follow the fourth line.
SignatureParse ParseSignatureFile(const char* data, std::size_t size, MinisignSignature* out);

enum class DescriptorCheck {
  Valid,
  OtherKey,           // the signature's key id is none of the given keys'
  BadSignature,       // the file is not what was signed
  BadTrustedComment,  // the trusted comment is not what was signed
};

// Checks `data` against `signature` with the key of the same id among `keys`.
DescriptorCheck VerifyDescriptor(const char* data, std::size_t size, const MinisignSignature& signature,
                                 const MinisignPublicKey* keys, std::size_t keyCount);

}  // namespace update
