// The window-free parts of signed updates: the descriptor's Sha256 and Size,
// the archive check fed piece by piece, the archive's digest URL, minisign's
// public key and signature formats, and the signature check with its refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/signing.h"
#include "update/trust/archive_digest.h"
#include "update/trust/descriptor_signature.h"
#include "update/update_paths.h"

namespace {

using update::ArchiveCheck;
using update::DescriptorCheck;
using update::SignatureParse;

// SHA-256("abc"), FIPS 180-2's first example.
const char kAbcSha256[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

update::Sha256Digest Digest(const char* hex) {
  update::Sha256Digest digest;
  EXPECT_TRUE(update::ParseSha256Hex(hex, &digest)) << hex;
  return digest;
}

TEST(ArchiveFacts, Sha256IsExactlySixtyFourHexDigits) {
  const std::string upper = "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";
  struct Case { std::string text; bool ok; };
  const Case cases[] = {
      {kAbcSha256, true},
      {upper, true},
      {std::string(kAbcSha256).substr(0, 63), false},
      {std::string(kAbcSha256) + "0", false},
      {std::string(kAbcSha256).substr(0, 63) + "g", false},
      {" " + std::string(kAbcSha256).substr(1), false},
      {"", false},
  };
  for (const Case& c : cases) {
    update::Sha256Digest digest;
    digest.bytes[0] = 0x5A;
    EXPECT_EQ(c.ok, update::ParseSha256Hex(c.text.c_str(), &digest)) << c.text;
    if (!c.ok) {
      EXPECT_EQ(0x5A, digest.bytes[0]) << "a refused text leaves the digest alone";
    }
  }
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(Digest(upper.c_str()), hex);
  EXPECT_STREQ(kAbcSha256, hex);
}

TEST(ArchiveFacts, SizeIsAPlainDecimalByteCount) {
  struct Case { const char* text; bool ok; std::uint64_t value; };
  const Case cases[] = {
      {"0", true, 0},
      {"113", true, 113},
      {"18446744073709551615", true, UINT64_MAX},
      {"18446744073709551616", false, 0},
      {"99999999999999999999", false, 0},
      {"-1", false, 0},
      {"+1", false, 0},
      {"1 2", false, 0},
      {"0x10", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    std::uint64_t value = 7;
    EXPECT_EQ(c.ok, update::ParseByteCount(c.text, &value)) << c.text;
    EXPECT_EQ(c.ok ? c.value : 7, value) << c.text;
  }
}

// Feeds `pieces` in order; stops feeding when the verifier refuses one.
ArchiveCheck Feed(update::ArchiveVerifier* verifier, const std::vector<std::string>& pieces,
                  std::size_t* accepted = nullptr) {
  std::size_t n = 0;
  for (const std::string& piece : pieces) {
    if (!verifier->OnBody(piece.data(), piece.size())) break;
    ++n;
  }
  if (accepted) *accepted = n;
  return verifier->Finish();
}

TEST(ArchiveVerifier, ChecksSizeAndDigestAsTheBytesArrive) {
  update::ArchiveExpectation both;
  both.hasDigest = true;
  both.digest = Digest(kAbcSha256);
  both.hasSize = true;
  both.size = 3;
  update::ArchiveExpectation digestOnly = both;
  digestOnly.hasSize = false;
  update::ArchiveExpectation sizeOnly = both;
  sizeOnly.hasDigest = false;

  struct Case {
    const char* label;
    update::ArchiveExpectation expected;
    std::vector<std::string> pieces;
    ArchiveCheck check;
    std::size_t accepted;
  };
  const std::vector<Case> cases = {
      {"whole", both, {"abc"}, ArchiveCheck::Match, 1},
      {"in pieces", both, {"a", "", "bc"}, ArchiveCheck::Match, 3},
      {"one byte more stops the transfer", both, {"ab", "cd", "never fed"}, ArchiveCheck::TooLarge, 1},
      {"cut short", both, {"ab"}, ArchiveCheck::SizeMismatch, 1},
      {"one byte changed", both, {"abd"}, ArchiveCheck::DigestMismatch, 1},
      {"digest only, longer", digestOnly, {"abc", "d"}, ArchiveCheck::DigestMismatch, 2},
      {"digest only", digestOnly, {"ab", "c"}, ArchiveCheck::Match, 2},
      {"size only", sizeOnly, {"xyz"}, ArchiveCheck::Match, 1},
      {"size only, longer", sizeOnly, {"xyzw"}, ArchiveCheck::TooLarge, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    update::ArchiveVerifier verifier(c.expected);
    std::size_t accepted = 0;
    EXPECT_EQ(c.check, Feed(&verifier, c.pieces, &accepted));
    EXPECT_EQ(c.accepted, accepted);
    EXPECT_EQ(c.check == ArchiveCheck::TooLarge, verifier.Stopped());
    EXPECT_EQ(c.check, verifier.Finish()) << "asked twice, the same answer";
  }
}

TEST(ArchiveVerifier, ReportsWhatArrived) {
  update::ArchiveVerifier verifier{update::ArchiveExpectation{}};
  EXPECT_EQ(ArchiveCheck::Match, Feed(&verifier, {"a", "bc"}));
  EXPECT_EQ(3u, verifier.Received());
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(verifier.ReceivedDigest(), hex);
  EXPECT_STREQ(kAbcSha256, hex);
}

TEST(ArchiveUrl, DigestPrefixReplacesTheTick) {
  char url[260];
  ASSERT_TRUE(update::ComposeDigestUrl(url, sizeof url, "http://cdn.test/ClientContent", Digest(kAbcSha256)));
  EXPECT_STREQ("http://cdn.test/ClientContent?ba7816bf8f01cfea", url);
  ASSERT_TRUE(update::ComposeTickUrl(url, sizeof url, "http://cdn.test/ClientContent", 1234));
  EXPECT_STREQ("http://cdn.test/ClientContent?1234", url);

  const std::string base(260 - 17, 'u');  // one byte too long for "?", 16 digits and the terminator
  EXPECT_FALSE(update::ComposeDigestUrl(url, sizeof url, base.c_str(), Digest(kAbcSha256)));
  EXPECT_STREQ("", url);
  EXPECT_TRUE(update::ComposeDigestUrl(url, sizeof url, base.substr(1).c_str(), Digest(kAbcSha256)));
}

// A public key made by Debian's minisign 0.11 (key id F8780CC876C08BCB).
const char kMinisignPublicKey[] = "RWTLi8B2yAx4+DP17lT9uycPw5gmrUPkx5PPPhjJt8zgIQCpq8W/WTuQ";

TEST(MinisignFormats, PublicKeyLine) {
  update::MinisignPublicKey key;
  ASSERT_TRUE(update::ParsePublicKey(kMinisignPublicKey, &key));
  char id[update::kKeyIdTextSize];
  update::FormatKeyId(key.keyId, id);
  EXPECT_STREQ("F8780CC876C08BCB", id);
  EXPECT_TRUE(update::ParsePublicKey((std::string(" ") + kMinisignPublicKey + "\r\n").c_str(), &key));

  const std::string line = kMinisignPublicKey;
  const char* refused[] = {
      "", "RWQ2", "not base64 at all!",
      "RUTLi8B2yAx4+DP17lT9uycPw5gmrUPkx5PPPhjJt8zgIQCpq8W/WTuQ",  // algorithm "ED" is for signatures
  };
  for (const char* text : refused) EXPECT_FALSE(update::ParsePublicKey(text, &key)) << text;
  EXPECT_FALSE(update::ParsePublicKey(line.substr(0, line.size() - 4).c_str(), &key));  // 3 bytes short
  EXPECT_FALSE(update::ParsePublicKey((line + "AAAA").c_str(), &key));                  // 3 bytes long
  EXPECT_FALSE(update::ParsePublicKey((line.substr(0, 20) + " " + line.substr(20)).c_str(), &key));
}

// Signatures made here with the pack tool's signer (interoperability with
// minisign itself is tested in minisign_interop_test).
class Signatures : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pack::GenerateKeyPair(&signer_));
    ASSERT_TRUE(pack::GenerateKeyPair(&other_));
  }
  update::MinisignSignature Parse(const std::string& text) {
    update::MinisignSignature signature;
    EXPECT_EQ(SignatureParse::Parsed, update::ParseSignatureFile(text.data(), text.size(), &signature)) << text;
    return signature;
  }
  DescriptorCheck Check(const std::string& data, const std::string& signatureText,
                        const std::vector<update::MinisignPublicKey>& keys) {
    return update::VerifyDescriptor(data.data(), data.size(), Parse(signatureText), keys.data(), keys.size());
  }

  const std::string descriptor_ = "[Launcher]\r\nVersion=7\r\nUrl=http://cdn.test/c\r\nSha256=" +
                                  std::string(kAbcSha256) + "\r\nSize=3\r\n";
  pack::KeyPair signer_;
  pack::KeyPair other_;
};

TEST_F(Signatures, EveryChangeAfterSigningIsRefused) {
  const std::string signed_ = pack::SignPrehashed(descriptor_, signer_, "file:version.cfg\tversion:7");
  ASSERT_FALSE(signed_.empty());
  EXPECT_EQ("file:version.cfg\tversion:7", Parse(signed_).trustedComment);
  EXPECT_EQ(update::SignatureAlgorithm::Prehashed, Parse(signed_).algorithm);

  std::string oneByte = descriptor_;
  oneByte[oneByte.find("Version=7") + 8] = '8';
  std::string comment = signed_;
  comment.replace(comment.find("version:7"), 9, "version:8");

  struct Case { const char* label; std::string data; std::string signature; std::vector<update::MinisignPublicKey> keys; DescriptorCheck check; };
  const std::vector<Case> cases = {
      {"as signed", descriptor_, signed_, {signer_.publicKey}, DescriptorCheck::Valid},
      {"one byte of the file changed", oneByte, signed_, {signer_.publicKey}, DescriptorCheck::BadSignature},
      {"a byte appended", descriptor_ + "\n", signed_, {signer_.publicKey}, DescriptorCheck::BadSignature},
      {"trusted comment changed", descriptor_, comment, {signer_.publicKey}, DescriptorCheck::BadTrustedComment},
      {"signed by another key", descriptor_, signed_, {other_.publicKey}, DescriptorCheck::OtherKey},
      {"no key", descriptor_, signed_, {}, DescriptorCheck::OtherKey},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.check, Check(c.data, c.signature, c.keys));
  }
}

TEST_F(Signatures, AKeyOfTheSameIdButOtherValueIsNoMatch) {
  const std::string signed_ = pack::SignPrehashed(descriptor_, signer_, "c");
  update::MinisignPublicKey impostor = other_.publicKey;
  std::copy(std::begin(signer_.publicKey.keyId), std::end(signer_.publicKey.keyId), impostor.keyId);
  EXPECT_EQ(DescriptorCheck::BadSignature, Check(descriptor_, signed_, {impostor}));
}

TEST_F(Signatures, RolloverAcceptsEitherConfiguredKey) {
  const std::vector<update::MinisignPublicKey> both = {signer_.publicKey, other_.publicKey};
  EXPECT_EQ(DescriptorCheck::Valid, Check(descriptor_, pack::SignPrehashed(descriptor_, signer_, "old"), both));
  EXPECT_EQ(DescriptorCheck::Valid, Check(descriptor_, pack::SignPrehashed(descriptor_, other_, "new"), both));
  pack::KeyPair third;
  ASSERT_TRUE(pack::GenerateKeyPair(&third));
  EXPECT_EQ(DescriptorCheck::OtherKey, Check(descriptor_, pack::SignPrehashed(descriptor_, third, "x"), both));
}

TEST_F(Signatures, SignatureFileShapes) {
  const std::string good = pack::SignPrehashed(descriptor_, signer_, "tc");
  const std::size_t second = good.find('\n') + 1;
  const std::size_t third = good.find('\n', second) + 1;
  const std::size_t fourth = good.find('\n', third) + 1;
  std::string crlf;
  for (char c : good) crlf += (c == '\n') ? std::string("\r\n") : std::string(1, c);
  std::string unknown = good;
  unknown.replace(second, 3, "RVR");  // the algorithm reads "EU": neither "ED" nor "Ed"

  struct Case { const char* label; std::string text; SignatureParse parse; };
  const std::vector<Case> cases = {
      {"as written", good, SignatureParse::Parsed},
      {"CRLF line ends", crlf, SignatureParse::Parsed},
      {"no final line end", good.substr(0, good.size() - 1), SignatureParse::Parsed},
      {"blank lines after", good + "\n\n", SignatureParse::Parsed},
      {"empty", "", SignatureParse::Malformed},
      {"untrusted comment only", good.substr(0, second), SignatureParse::Malformed},
      {"cut in the signature line", good.substr(0, second + 40), SignatureParse::Malformed},
      {"no global signature", good.substr(0, fourth), SignatureParse::Malformed},
      {"global signature cut", good.substr(0, good.size() - 10), SignatureParse::Malformed},
      {"text after the fourth line", good + "more\n", SignatureParse::Malformed},
      {"no untrusted comment prefix", good.substr(11), SignatureParse::Malformed},
      {"no trusted comment prefix", good.substr(0, third) + "comment: tc\n" + good.substr(fourth), SignatureParse::Malformed},
      {"unknown algorithm", unknown, SignatureParse::UnknownAlgorithm},
      {"oversized", good + std::string(update::kMaxSignatureFileBytes, '\n'), SignatureParse::TooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    update::MinisignSignature signature;
    EXPECT_EQ(c.parse, update::ParseSignatureFile(c.text.data(), c.text.size(), &signature));
  }
}

}  // namespace
