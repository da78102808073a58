#include "update/trust/descriptor_signature.h"

#include <sodium.h>

#include <cstring>

#include "update/trust/sodium_ready.h"

namespace update {

namespace {

const char kUntrustedPrefix[] = "untrusted comment: ";
const char kTrustedPrefix[] = "trusted comment: ";
constexpr std::size_t kAlgorithmSize = 2;
constexpr std::size_t kPublicKeyBytes = kAlgorithmSize + kKeyIdSize + kPublicKeySize;     // 42
constexpr std::size_t kSignatureLineBytes = kAlgorithmSize + kKeyIdSize + kSignatureSize;  // 74

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Decodes all of text[0..length) (padded standard base64) into exactly
// `expected` bytes.
bool DecodeExactly(const char* text, std::size_t length, std::uint8_t* out, std::size_t expected) {
  if (length == 0) return false;
  std::size_t decoded = 0;
  const char* end = nullptr;
  if (sodium_base642bin(out, expected, text, length, nullptr, &decoded, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0)
    return false;
  return decoded == expected && end == text + length;
}

// One line of data[*at..size): its text without "\n" or "\r\n". False when
// nothing is left.
bool NextLine(const char* data, std::size_t size, std::size_t* at, const char** line, std::size_t* length) {
  if (*at >= size) return false;
  const char* start = data + *at;
  const void* newline = std::memchr(start, '\n', size - *at);
  std::size_t n = newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - start) : size - *at;
  *at += n + (newline ? 1 : 0);
  if (n > 0 && start[n - 1] == '\r') --n;
  *line = start;
  *length = n;
  return true;
}

bool StartsWith(const char* line, std::size_t length, const char* prefix) {
  const std::size_t n = std::strlen(prefix);
  return length >= n && std::memcmp(line, prefix, n) == 0;
}

bool Verify(const std::uint8_t (&signature)[kSignatureSize], const unsigned char* message, std::size_t size,
            const std::uint8_t (&key)[kPublicKeySize]) {
  return crypto_sign_verify_detached(signature, message, size, key) == 0;
}

}  // namespace

bool ParsePublicKey(const char* text, MinisignPublicKey* out) {
  if (text == nullptr || out == nullptr) return false;
  std::size_t length = std::strlen(text);
  while (length > 0 && IsBlank(*text)) ++text, --length;
  while (length > 0 && IsBlank(text[length - 1])) --length;
  std::uint8_t raw[kPublicKeyBytes];
  if (!DecodeExactly(text, length, raw, sizeof raw)) return false;
  if (raw[0] != 'E' || raw[1] != 'd') return false;
  std::memcpy(out->keyId, raw + kAlgorithmSize, kKeyIdSize);
  std::memcpy(out->key, raw + kAlgorithmSize + kKeyIdSize, kPublicKeySize);
  return true;
}

void FormatKeyId(const std::uint8_t (&keyId)[kKeyIdSize], char (&out)[kKeyIdTextSize]) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (std::size_t i = 0; i < kKeyIdSize; ++i) {
    const std::uint8_t byte = keyId[kKeyIdSize - 1 - i];
    out[2 * i] = kDigits[byte >> 4];
    out[2 * i + 1] = kDigits[byte & 0x0F];
  }
  out[kKeyIdTextSize - 1] = '\0';
}

SignatureParse ParseSignatureFile(const char* data, std::size_t size, MinisignSignature* out) {
  if (size > kMaxSignatureFileBytes) return SignatureParse::TooLarge;
  if (data == nullptr || out == nullptr) return SignatureParse::Malformed;
  std::size_t at = 0;
  const char* line = nullptr;
  std::size_t length = 0;

  if (!NextLine(data, size, &at, &line, &length) || !StartsWith(line, length, kUntrustedPrefix))
    return SignatureParse::Malformed;

  std::uint8_t raw[kSignatureLineBytes];
  if (!NextLine(data, size, &at, &line, &length) || !DecodeExactly(line, length, raw, sizeof raw))
    return SignatureParse::Malformed;

  if (!NextLine(data, size, &at, &line, &length) || !StartsWith(line, length, kTrustedPrefix))
    return SignatureParse::Malformed;
  const std::size_t prefix = std::strlen(kTrustedPrefix);
  std::string comment(line + prefix, length - prefix);

  MinisignSignature parsed;
  if (!NextLine(data, size, &at, &line, &length) ||
      !DecodeExactly(line, length, parsed.globalSignature, sizeof parsed.globalSignature))
    return SignatureParse::Malformed;
  for (; at < size; ++at) {
    if (data[at] != '\r' && data[at] != '\n') return SignatureParse::Malformed;
  }

  if (raw[0] == 'E' && raw[1] == 'D') {
    parsed.algorithm = SignatureAlgorithm::Prehashed;
  } else if (raw[0] == 'E' && raw[1] == 'd') {
    parsed.algorithm = SignatureAlgorithm::Legacy;
  } else {
    return SignatureParse::UnknownAlgorithm;
  }
  std::memcpy(parsed.keyId, raw + kAlgorithmSize, kKeyIdSize);
  std::memcpy(parsed.signature, raw + kAlgorithmSize + kKeyIdSize, kSignatureSize);
  parsed.trustedComment = std::move(comment);
  *out = std::move(parsed);
  return SignatureParse::Parsed;
}

DescriptorCheck VerifyDescriptor(const char* data, std::size_t size, const MinisignSignature& signature,
                                 const MinisignPublicKey* keys, std::size_t keyCount) {
  const MinisignPublicKey* key = nullptr;
  for (std::size_t i = 0; i < keyCount && key == nullptr; ++i) {
    if (std::memcmp(keys[i].keyId, signature.keyId, kKeyIdSize) == 0) key = &keys[i];
  }
  if (key == nullptr) return DescriptorCheck::OtherKey;
  if (!SodiumReady()) return DescriptorCheck::BadSignature;

  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  bool signedFile = false;
  if (signature.algorithm == SignatureAlgorithm::Prehashed) {
    unsigned char hash[crypto_generichash_BYTES_MAX];  // BLAKE2b-512, no key
    signedFile = crypto_generichash(hash, sizeof hash, bytes, size, nullptr, 0) == 0 &&
                 Verify(signature.signature, hash, sizeof hash, key->key);
  } else {
    signedFile = Verify(signature.signature, bytes, size, key->key);
  }
  if (!signedFile) return DescriptorCheck::BadSignature;

  // The global signature covers the signature followed by the trusted comment.
  std::string global(reinterpret_cast<const char*>(signature.signature), kSignatureSize);
  global += signature.trustedComment;
  if (!Verify(signature.globalSignature, reinterpret_cast<const unsigned char*>(global.data()), global.size(),
              key->key))
    return DescriptorCheck::BadTrustedComment;
  return DescriptorCheck::Valid;
}

}  // namespace update
