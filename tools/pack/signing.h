// The operator's side of signed updates, in minisign's formats so that
// minisign itself can take either part: key pairs (a ".pub" file, and a secret
// key file stored unencrypted as `minisign -G -W` stores it) and prehashed
// signatures ("ED": Ed25519 over BLAKE2b-512 of the file) with a trusted comment.
#pragma once

#include <cstdint>
#include <string>

#include "update/trust/descriptor_signature.h"

namespace pack {

constexpr std::size_t kSecretKeySize = 64;  // Ed25519: the seed, then the public key

struct KeyPair {
  update::MinisignPublicKey publicKey;
  std::uint8_t secretKey[kSecretKeySize] = {};
};

// A fresh key pair with a random key id. False when no randomness was had.
bool GenerateKeyPair(KeyPair* out);

// "untrusted comment: minisign public key <ID>\n<base64 line>\n"
std::string FormatPublicKeyFile(const update::MinisignPublicKey& key);
std::string PublicKeyLine(const update::MinisignPublicKey& key);  // the base64 line alone

// The secret key file: algorithm "Ed", no key derivation, checksum "B2", zero
// salt and limits, then key id, secret key and BLAKE2b-256 checksum.
std::string FormatSecretKeyFile(const KeyPair& pair);

enum class SecretKeyRead {
  Read,
  Malformed,  // not a minisign secret key file
  Encrypted,  // protected by a password: make one with `minisign -G -W` or `pack keygen`
  Damaged,    // its checksum or its public half does not match its secret key
};
// Takes what FormatSecretKeyFile and `minisign -G -W` write (the latter leaves
// the checksum zero).
SecretKeyRead ParseSecretKeyFile(const std::string& text, KeyPair* out);

// The text of a ".minisig" file for `data`: prehashed, `trustedComment` signed
// with it (one line; a line end in it is refused with an empty result).
std::string SignPrehashed(const std::string& data, const KeyPair& pair, const std::string& trustedComment);

}  // namespace pack
