#include "tools/pack/signing.h"

#include <sodium.h>

#include <cstring>

#include "update/trust/sodium_ready.h"

namespace pack {

namespace {

using update::kKeyIdSize;
using update::kPublicKeySize;
using update::kSignatureSize;

constexpr std::size_t kChecksumSize = 32;
constexpr std::size_t kSaltSize = 32;
// "Ed", KDF algorithm, checksum algorithm, salt, opslimit, memlimit; then key
// id, secret key, checksum.
constexpr std::size_t kKeyHeaderSize = 2 + 2 + 2 + kSaltSize + 8 + 8;
constexpr std::size_t kSecretFileBytes = kKeyHeaderSize + kKeyIdSize + kSecretKeySize + kChecksumSize;

std::string Base64(const std::uint8_t* data, std::size_t size) {
  std::string out(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(&out[0], out.size(), data, size, sodium_base64_VARIANT_ORIGINAL);
  out.resize(std::strlen(out.c_str()));
  return out;
}

// BLAKE2b-256 of "Ed", the key id and the secret key.
void Checksum(const KeyPair& pair, std::uint8_t (&out)[kChecksumSize]) {
  std::uint8_t input[2 + kKeyIdSize + kSecretKeySize] = {'E', 'd'};
  std::memcpy(input + 2, pair.publicKey.keyId, kKeyIdSize);
  std::memcpy(input + 2 + kKeyIdSize, pair.secretKey, kSecretKeySize);
  crypto_generichash(out, sizeof out, input, sizeof input, nullptr, 0);
}

bool NextLine(const std::string& text, std::size_t* at, std::string* line) {
  if (*at >= text.size()) return false;
  std::size_t end = text.find('\n', *at);
  if (end == std::string::npos) end = text.size();
  *line = text.substr(*at, end - *at);
  if (!line->empty() && line->back() == '\r') line->pop_back();
  *at = end + 1;
  return true;
}

}  // namespace

bool GenerateKeyPair(KeyPair* out) {
  if (!update::SodiumReady()) return false;
  KeyPair pair;
  if (crypto_sign_keypair(pair.publicKey.key, pair.secretKey) != 0) return false;
  randombytes_buf(pair.publicKey.keyId, kKeyIdSize);
  *out = pair;
  sodium_memzero(&pair, sizeof pair);
  return true;
}

std::string PublicKeyLine(const update::MinisignPublicKey& key) {
  std::uint8_t raw[2 + kKeyIdSize + kPublicKeySize] = {'E', 'd'};
  std::memcpy(raw + 2, key.keyId, kKeyIdSize);
  std::memcpy(raw + 2 + kKeyIdSize, key.key, kPublicKeySize);
  return Base64(raw, sizeof raw);
}

std::string FormatPublicKeyFile(const update::MinisignPublicKey& key) {
  char id[update::kKeyIdTextSize];
  update::FormatKeyId(key.keyId, id);
  return std::string("untrusted comment: minisign public key ") + id + "\n" + PublicKeyLine(key) + "\n";
}

std::string FormatSecretKeyFile(const KeyPair& pair) {
  std::uint8_t raw[kSecretFileBytes] = {'E', 'd', 0, 0, 'B', '2'};  // salt and limits stay zero
  std::uint8_t* keynum = raw + kKeyHeaderSize;
  std::memcpy(keynum, pair.publicKey.keyId, kKeyIdSize);
  std::memcpy(keynum + kKeyIdSize, pair.secretKey, kSecretKeySize);
  std::uint8_t checksum[kChecksumSize];
  Checksum(pair, checksum);
  std::memcpy(keynum + kKeyIdSize + kSecretKeySize, checksum, kChecksumSize);
  std::string text = "untrusted comment: minisign secret key, not encrypted\n" + Base64(raw, sizeof raw) + "\n";
  sodium_memzero(raw, sizeof raw);
  return text;
}

SecretKeyRead ParseSecretKeyFile(const std::string& text, KeyPair* out) {
  if (!update::SodiumReady()) return SecretKeyRead::Malformed;
  std::size_t at = 0;
  std::string comment;
  std::string line;
  if (!NextLine(text, &at, &comment) || comment.rfind("untrusted comment: ", 0) != 0 || !NextLine(text, &at, &line))
    return SecretKeyRead::Malformed;
  std::uint8_t raw[kSecretFileBytes];
  std::size_t decoded = 0;
  const char* end = nullptr;
  if (sodium_base642bin(raw, sizeof raw, line.data(), line.size(), nullptr, &decoded, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      decoded != sizeof raw || end != line.data() + line.size())
    return SecretKeyRead::Malformed;
  if (raw[0] != 'E' || raw[1] != 'd' || raw[4] != 'B' || raw[5] != '2') return SecretKeyRead::Malformed;
  if (raw[2] != 0 || raw[3] != 0) return SecretKeyRead::Encrypted;

  KeyPair pair;
  const std::uint8_t* keynum = raw + kKeyHeaderSize;
  std::memcpy(pair.publicKey.keyId, keynum, kKeyIdSize);
  std::memcpy(pair.secretKey, keynum + kKeyIdSize, kSecretKeySize);
  const std::uint8_t* stored = keynum + kKeyIdSize + kSecretKeySize;
  std::uint8_t checksum[kChecksumSize];
  Checksum(pair, checksum);
  const std::uint8_t zero[kChecksumSize] = {};
  const bool checksumOk =
      std::memcmp(stored, checksum, kChecksumSize) == 0 || std::memcmp(stored, zero, kChecksumSize) == 0;
  // The public half must be the one the seed makes.
  std::uint8_t derivedPublic[kPublicKeySize];
  std::uint8_t derivedSecret[kSecretKeySize];
  crypto_sign_seed_keypair(derivedPublic, derivedSecret, pair.secretKey);
  const bool halvesOk = std::memcmp(derivedSecret, pair.secretKey, kSecretKeySize) == 0;
  std::memcpy(pair.publicKey.key, derivedPublic, kPublicKeySize);
  sodium_memzero(raw, sizeof raw);
  sodium_memzero(derivedSecret, sizeof derivedSecret);
  if (!checksumOk || !halvesOk) return SecretKeyRead::Damaged;
  *out = pair;
  sodium_memzero(&pair, sizeof pair);
  return SecretKeyRead::Read;
}

std::string SignPrehashed(const std::string& data, const KeyPair& pair, const std::string& trustedComment) {
  if (!update::SodiumReady() || trustedComment.find_first_of("\r\n") != std::string::npos) return "";
  unsigned char hash[crypto_generichash_BYTES_MAX];
  crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(data.data()), data.size(), nullptr, 0);

  std::uint8_t line[2 + kKeyIdSize + kSignatureSize] = {'E', 'D'};
  std::memcpy(line + 2, pair.publicKey.keyId, kKeyIdSize);
  std::uint8_t* signature = line + 2 + kKeyIdSize;
  crypto_sign_detached(signature, nullptr, hash, sizeof hash, pair.secretKey);

  std::string global(reinterpret_cast<const char*>(signature), kSignatureSize);
  global += trustedComment;
  std::uint8_t globalSignature[kSignatureSize];
  crypto_sign_detached(globalSignature, nullptr, reinterpret_cast<const unsigned char*>(global.data()),
                       global.size(), pair.secretKey);

  return "untrusted comment: signature from pack secret key\n" + Base64(line, sizeof line) +
         "\ntrusted comment: " + trustedComment + "\n" + Base64(globalSignature, sizeof globalSignature) + "\n";
}

}  // namespace pack
