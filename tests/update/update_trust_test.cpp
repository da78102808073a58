// Signed descriptors and verified archives in whole worker runs against nginx:
// releases signed with the pack tool's signer (and, made at build time, with
// Debian's minisign), each refusal with its log line and box and nothing
// installed, the key rollover, and the archive's query (digest or tick) as
// nginx's access log shows it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "tests/update/test_support.h"
#include "tests/update/worker_harness.h"
#include "tools/pack/signing.h"
#include "update/trust/archive_digest.h"
#include "update/download_log_testing.h"
#include "update/transfer/http_download.h"
#include "update/trust/descriptor_trust.h"

namespace {

using namespace testing_update;

class Trust : public Worker {
 protected:
  void SetUp() override {
    Worker::SetUp();
    ASSERT_TRUE(pack::GenerateKeyPair(&key_));
    ASSERT_TRUE(pack::GenerateKeyPair(&other_));
    publicKey_ = pack::PublicKeyLine(key_.publicKey);
    stub_ = ReadWholeFile(TEST_GAME_STUB);
    ASSERT_FALSE(stub_.empty());
  }

  // A client archive served as `name`; returns its bytes.
  std::string ServeArchive(const std::string& name) {
    EXPECT_TRUE(WriteZip(served_ / name, {{"data/", "", 0x10}, {"data/a.pak", "pak", 0x20}, {"TLVR.exe", stub_, 0x20}}));
    return ReadWholeFile(served_ / name);
  }

  // A descriptor for the archive served as `name` with `bytes`.
  std::string DescriptorFor(int version, const std::string& name, const std::string& bytes, bool facts = true) {
    std::string text = Descriptor(version, HttpUrl(served_.UrlPath(name)));
    if (facts) text += "Sha256=" + Sha256Hex(bytes) + "\r\nSize=" + std::to_string(bytes.size()) + "\r\n";
    return text;
  }

  // Serves `descriptor` as `name` and, signed by `signer`, `name`.minisig;
  // returns the descriptor's URL.
  std::string ServeSigned(const std::string& name, const std::string& descriptor, const pack::KeyPair& signer) {
    EXPECT_TRUE(WriteWholeFile(served_ / (name + ".minisig"),
                               pack::SignPrehashed(descriptor, signer, "file:version.cfg\tversion:2")));
    return Serve(name, descriptor);
  }

  // The query of the first request for `urlPath` in nginx's access log; "-"
  // when there was none.
  std::string RequestQuery(const std::string& urlPath) const {
    const std::string log = ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"));
    const std::string request = "\"GET " + urlPath;
    const std::size_t at = log.find(request + "?");
    if (at == std::string::npos) return log.find(request + " ") == std::string::npos ? "-" : "";
    const std::size_t start = at + request.size() + 1;
    return log.substr(start, log.find(' ', start) - start);
  }

  bool NothingInstalled() { return !Exists(Game() + "\\data") && !Exists(At("Temp\\ClientContent")); }

  pack::KeyPair key_;
  pack::KeyPair other_;
  std::string stub_;
};

TEST_F(Trust, SignedReleaseIsFetchedByItsDigestAndInstalled) {
  const std::string bytes = ServeArchive("c.zip");
  const Observed seen = Run(ServeSigned("v.cfg", DescriptorFor(2, "c.zip", bytes), key_));

  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_TRUE(seen.closeRequested);
  EXPECT_TRUE(ShownInOrder(kUpdateStages, seen.stages));
  EXPECT_EQ(kStarted, Log());
  EXPECT_EQ(2, InstalledVersion());
  EXPECT_EQ("pak", ReadWholeFile(Game() + "\\data\\a.pak"));
  EXPECT_EQ(Sha256Hex(bytes).substr(0, 16), RequestQuery(served_.UrlPath("c.zip")));
  // The signature is asked for with the descriptor's own tick query.
  const std::string tick = RequestQuery(served_.UrlPath("v.cfg"));
  EXPECT_FALSE(tick.empty());
  EXPECT_EQ(tick, RequestQuery(served_.UrlPath("v.cfg.minisig")));
}

TEST_F(Trust, RefusedDescriptorShowsItsBoxAndFetchesNothingMore) {
  struct Case {
    const char* label;
    std::string log;              // the line that says why (the whole log ends with it)
    std::string key = "";         // "" = the test's key
  };
  char otherId[update::kKeyIdTextSize];
  update::FormatKeyId(other_.publicKey.keyId, otherId);
  const std::vector<Case> cases = {
      {"one byte of version.cfg changed after signing", "Refused version.cfg: the signature does not match the file\n"},
      {"signed by another key",
       std::string("Refused version.cfg: signed by key ") + otherId + ", which is not configured\n"},
      {"no .minisig on the server", "Refused version.cfg: version.cfg.minisig not fetched\n"},
      {"truncated .minisig", "Refused version.cfg: version.cfg.minisig is not a minisign signature\n"},
      {"oversized .minisig", "Refused version.cfg: version.cfg.minisig is larger than 4096 bytes\n"},
      {"no Sha256 under a key", "Refused version.cfg: a public key is configured and it names no Sha256\n"},
      {"trusted comment changed", "Refused version.cfg: the trusted comment does not match its signature\n"},
      {"configured key malformed", "PublicKey in Config.cfg is not a minisign public key\n", "RWQ2"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    SetInstalled(1);
    const std::string name = "d" + std::to_string(i) + ".cfg";
    const std::string archive = "a" + std::to_string(i) + ".zip";
    const std::string bytes = ServeArchive(archive);  // there to be fetched, were anything fetched
    const std::string descriptor = DescriptorFor(2, archive, bytes, i != 5);
    std::string url = ServeSigned(name, descriptor, i == 1 ? other_ : key_);
    std::string signature = ReadWholeFile(served_ / (name + ".minisig"));
    switch (i) {
      case 0: {
        std::string changed = descriptor;
        changed[changed.find("Version=2") + 8] = '3';
        ASSERT_TRUE(WriteWholeFile(served_ / name, changed));
        break;
      }
      case 2: ASSERT_TRUE(::DeleteFileA((served_ / (name + ".minisig")).c_str())); break;
      case 3: ASSERT_TRUE(WriteWholeFile(served_ / (name + ".minisig"), signature.substr(0, signature.size() / 2))); break;
      case 4: ASSERT_TRUE(WriteWholeFile(served_ / (name + ".minisig"), signature + std::string(5000, '\n'))); break;
      case 6:
        signature.replace(signature.find("version:2"), 9, "version:9");
        ASSERT_TRUE(WriteWholeFile(served_ / (name + ".minisig"), signature));
        break;
      default: break;
    }
    publicKey_ = c.key.empty() ? pack::PublicKeyLine(key_.publicKey) : c.key;

    const Observed seen = Run(url);
    const std::string log = Log();
    ASSERT_GE(log.size(), c.log.size()) << log;
    EXPECT_EQ(c.log, log.substr(log.size() - c.log.size())) << log;
    if (i == 2) {
      EXPECT_NE(std::string::npos, log.find("404 Not Found")) << log;
    }
    EXPECT_EQ(std::vector<std::string>{kVersionFailed}, seen.boxes);
    EXPECT_TRUE(seen.closeRequested);
    EXPECT_EQ((std::vector<Stage>{{0, 25}}), seen.stages);
    EXPECT_EQ(1, InstalledVersion());
    EXPECT_TRUE(NothingInstalled());
    EXPECT_EQ("-", RequestQuery(served_.UrlPath(archive))) << "no archive request after a refused descriptor";
    if (i == 7) {
      EXPECT_EQ("-", RequestQuery(served_.UrlPath(name))) << "a bad key fetches nothing";
    }
  }
  publicKey_.clear();
}

TEST_F(Trust, ArchiveThatIsNotTheAnnouncedOneIsDeletedAndNotInstalled) {
  const std::string bytes = ServeArchive("good.zip");
  std::string changed = bytes;
  changed[changed.size() / 2] = static_cast<char>(changed[changed.size() / 2] ^ 0x01);
  const std::string size = std::to_string(bytes.size());
  struct Case { const char* label; std::string served; std::string log; bool exact; };
  const std::vector<Case> cases = {
      {"one byte longer", bytes + "x", "Refused archive: expected " + size + " bytes, received more (", false},
      {"one byte changed", changed,
       "Refused archive: expected Sha256 " + Sha256Hex(bytes) + ", received " + Sha256Hex(changed) + "\n", true},
      {"cut short", bytes.substr(0, bytes.size() - 1),
       "Refused archive: expected " + size + " bytes, received " + std::to_string(bytes.size() - 1) + "\n", true},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.label);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    SetInstalled(1);
    const std::string archive = "bad" + std::to_string(i) + ".zip";
    ASSERT_TRUE(WriteWholeFile(served_ / archive, c.served));
    std::string descriptor = Descriptor(2, HttpUrl(served_.UrlPath(archive))) + "Sha256=" + Sha256Hex(bytes) +
                             "\r\nSize=" + size + "\r\n";
    const Observed seen = Run(ServeSigned("v" + std::to_string(i) + ".cfg", descriptor, key_));

    const std::string log = Log();
    if (c.exact) {
      EXPECT_EQ(c.log, log);
    } else {
      EXPECT_EQ(0u, log.rfind(c.log, 0)) << log;
      EXPECT_EQ(std::string::npos, log.find("curl (")) << "the check, not the transfer, failed: " << log;
    }
    EXPECT_EQ(std::vector<std::string>{kArchiveFailed}, seen.boxes);
    EXPECT_TRUE(seen.closeRequested);
    EXPECT_TRUE(ShownInOrder({{0, 25}, {1, 50}}, seen.stages));
    EXPECT_EQ(1, InstalledVersion());
    EXPECT_TRUE(NothingInstalled()) << "the refused archive is deleted";
  }
}

TEST_F(Trust, RolloverAcceptsTheOldAndTheNewKey) {
  publicKey_ = pack::PublicKeyLine(key_.publicKey);      // the old key
  publicKey2_ = pack::PublicKeyLine(other_.publicKey);   // the new one
  const std::string bytes = ServeArchive("r.zip");
  const pack::KeyPair* signers[] = {&key_, &other_};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i == 0 ? "signed by the old key" : "signed by the new key");
    ScratchDir dir;
    UseDirectory(dir.Path());
    const Observed seen = Run(ServeSigned("r" + std::to_string(i) + ".cfg", DescriptorFor(3, "r.zip", bytes), *signers[i]));
    EXPECT_TRUE(seen.boxes.empty());
    EXPECT_EQ(kStarted, Log());
    EXPECT_EQ(3, InstalledVersion());
  }
  publicKey2_.clear();
}

TEST_F(Trust, ArchiveQueryIsTheDigestPrefixWhenGivenElseTheTick) {
  publicKey_.clear();  // unsigned descriptors, as before keys existed
  const std::string bytes = ServeArchive("q.zip");
  struct Case { const char* label; bool facts; std::string archive; };
  const std::vector<Case> cases = {{"with Sha256", true, "q1.zip"}, {"without", false, "q2.zip"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_TRUE(WriteWholeFile(served_ / c.archive, bytes));
    ScratchDir dir;
    UseDirectory(dir.Path());
    const Observed seen = Run(Serve(std::string(c.archive) + ".cfg", DescriptorFor(4, c.archive, bytes, c.facts)));
    EXPECT_TRUE(seen.boxes.empty());
    EXPECT_EQ(4, InstalledVersion());
    const std::string query = RequestQuery(served_.UrlPath(c.archive));
    if (c.facts) {
      EXPECT_EQ(Sha256Hex(bytes).substr(0, 16), query);
    } else {
      ASSERT_FALSE(query.empty());
      EXPECT_EQ(std::string::npos, query.find_first_not_of("-0123456789")) << query;  // the tick, as before
    }
    EXPECT_EQ(std::string::npos, ReadWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"))
                                     .find(served_.UrlPath(std::string(c.archive) + ".cfg.minisig")))
        << "no key: no signature asked for";
  }
}

// Descriptors that Debian's minisign signed at build time (prehashed and
// legacy), with the key it made; they announce the installed version, so no
// archive is needed.
TEST_F(Trust, DescriptorSignedByMinisignIsAccepted) {
  const std::string pub = ReadWholeFile(MINISIGN_FIXTURES "\\k.pub");
  const std::size_t line = pub.find('\n') + 1;
  publicKey_ = pub.substr(line, pub.find('\n', line) - line);
  const std::string descriptor = ReadWholeFile(MINISIGN_FIXTURES "\\version.cfg");
  ASSERT_NE(std::string::npos, descriptor.find("Sha256=")) << descriptor;
  for (const char* signature : {"version.cfg.minisig", "legacy.minisig"}) {
    SCOPED_TRACE(signature);
    ScratchDir dir;
    UseDirectory(dir.Path());
    PlaceGame();
    SetInstalled(1);
    const std::string name = std::string("m-") + signature + ".cfg";
    ASSERT_TRUE(WriteWholeFile(served_ / (name + ".minisig"), ReadWholeFile(MINISIGN_FIXTURES "\\" + std::string(signature))));
    const Observed seen = Run(Serve(name, descriptor));
    EXPECT_TRUE(seen.boxes.empty());
    EXPECT_TRUE(ShownInOrder(kCurrentStages, seen.stages));
    EXPECT_EQ(kStarted, Log());
  }
}

}  // namespace

namespace {

class Resume : public Trust {
 protected:
  // An archive large enough that its part is worth continuing.
  std::string ServeLargeArchive(const std::string& name) {
    std::string noise(3u << 20, '\0');
    std::uint32_t state = 7;
    for (char& c : noise) c = static_cast<char>((state = state * 1664525u + 1013904223u) >> 24);
    EXPECT_TRUE(WriteZip(served_ / name, {{"data/", "", 0x10}, {"data/a.pak", "pak", 0x20},
                                          {"data/noise.bin", noise, 0x20}, {"TLVR.exe", stub_, 0x20}}));
    return ReadWholeFile(served_ / name);
  }
  void LeavePart(const std::string& content, const std::string& recordDigest) {
    ::CreateDirectoryA(At("Temp").c_str(), nullptr);
    ASSERT_TRUE(WriteWholeFile(At("Temp\\ClientContent.part"), content));
    ASSERT_TRUE(WriteWholeFile(At("Temp\\ClientContent.part.sha256"), recordDigest + "\n"));
  }
};

TEST_F(Resume, PartOfTheSameDigestIsContinuedAndAnyOtherPartStartsOver) {
  const std::string bytes = ServeLargeArchive("c.zip");
  const long long half = static_cast<long long>(bytes.size() / 2);
  std::string corrupt = bytes.substr(0, bytes.size() / 2);
  corrupt[100] = static_cast<char>(corrupt[100] ^ 0x5a);
  struct Case {
    const char* name;
    std::string part;
    std::string record;
    std::vector<std::pair<int, long long>> served;  // nginx's answers for the archive
    const char* logged;                             // a line the log holds
  };
  const long long whole = static_cast<long long>(bytes.size());
  const Case cases[] = {
      {"same digest", bytes.substr(0, bytes.size() / 2), Sha256Hex(bytes), {{206, whole - half}},
       "Resuming ("},
      {"another digest", bytes.substr(0, bytes.size() / 2), Sha256Hex("other"), {{200, whole}}, nullptr},
      {"longer than Size", bytes + "tail", Sha256Hex(bytes), {{200, whole}}, nullptr},
      {"already whole", bytes, Sha256Hex(bytes), {}, nullptr},
      // The resumed body fails the digest: the part is dropped and the whole archive fetched.
      {"corrupt content", corrupt, Sha256Hex(bytes), {{206, whole - half}, {200, whole}}, "Rejected body of ("},
  };
  int version = 2;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EndProcessesBelow(Game(), 10000);  // the last case's game holds TLVR.exe until it ends
    LeavePart(c.part, c.record);
    const std::string name = "v" + std::to_string(version) + ".cfg";
    ASSERT_TRUE(WriteWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));  // nginx appends
    const Observed seen = Run(ServeSigned(name, DescriptorFor(version, "c.zip", bytes), key_));
    EXPECT_TRUE(seen.boxes.empty()) << Log();
    EXPECT_EQ(version, InstalledVersion());
    EXPECT_EQ("pak", ReadWholeFile(Game() + "\\data\\a.pak"));
    EXPECT_EQ(bytes, ReadWholeFile(At("Temp\\ClientContent")));
    EXPECT_FALSE(Exists(At("Temp\\ClientContent.part")));
    EXPECT_FALSE(Exists(At("Temp\\ClientContent.part.sha256")));
    EXPECT_EQ(c.served, ServedRequests(served_.UrlPath("c.zip")));
    if (c.logged != nullptr) {
      EXPECT_NE(std::string::npos, Log().find(c.logged)) << Log();
    }
    ++version;
  }
}

}  // namespace

namespace {

TEST_F(Resume, ServerThatIgnoresTheRangeSendsTheWholeArchiveWhichIsInstalled) {
  const std::string bytes = ServeLargeArchive("c.zip");
  LeavePart(bytes.substr(0, 1000), Sha256Hex(bytes));
  const std::string key = "r" + std::to_string(::GetCurrentProcessId());
  std::string descriptor = Descriptor(2, FixtureUrl("/norange?key=" + key + "&file=" + ServerEnv("LAUNCHER_DOCROOT") +
                                                    "/" + served_.Name() + "/c.zip&digest="));
  descriptor += "Sha256=" + Sha256Hex(bytes) + "\r\nSize=" + std::to_string(bytes.size()) + "\r\n";
  const Observed seen = Run(ServeSigned("v.cfg", descriptor, key_));
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_EQ(2, InstalledVersion());
  EXPECT_EQ(bytes, ReadWholeFile(At("Temp\\ClientContent")));
  const std::string log = Log();
  EXPECT_NE(std::string::npos, log.find("Resuming (")) << log;
  EXPECT_NE(std::string::npos, log.find(") at 1000 of " + std::to_string(bytes.size()) + " bytes\n")) << log;
  EXPECT_NE(std::string::npos, log.find("Server ignored the range of (")) << log;
  const std::string rangeFile = At("range");
  ASSERT_TRUE(update::DownloadFile(rangeFile.c_str(), FixtureUrl("/norange?count=1&key=" + key).c_str()));
  EXPECT_EQ("bytes=1000-", ReadWholeFile(rangeFile));
}

}  // namespace

namespace {

TEST_F(Resume, PartLongerThanTheArchiveWithoutSizeGetsA416AndStartsOver) {
  const std::string bytes = ServeLargeArchive("c.zip");
  LeavePart(bytes + std::string(5000, 'x'), Sha256Hex(bytes));
  ASSERT_TRUE(WriteWholeFile(ServerEnv("LAUNCHER_ACCESS_LOG_WIN"), ""));  // nginx appends
  const std::string descriptor =
      Descriptor(2, HttpUrl(served_.UrlPath("c.zip"))) + "Sha256=" + Sha256Hex(bytes) + "\r\n";  // no Size
  const Observed seen = Run(ServeSigned("v.cfg", descriptor, key_));
  EXPECT_TRUE(seen.boxes.empty());
  EXPECT_EQ(2, InstalledVersion());
  EXPECT_EQ(bytes, ReadWholeFile(At("Temp\\ClientContent")));
  const std::vector<std::pair<int, long long>> served = ServedRequests(served_.UrlPath("c.zip"));
  ASSERT_EQ(2u, served.size());
  EXPECT_EQ(416, served[0].first);
  EXPECT_EQ((std::pair<int, long long>(200, static_cast<long long>(bytes.size()))), served[1]);
}

// The descriptor's manifest keys, read as the worker reads them; each
// refusal has its line.
TEST(ManifestKeys, AreReadOrRefusedWithTheirLine) {
  const std::string digest(64, 'a');
  struct Case {
    const char* label;
    std::string keys;
    bool keyConfigured;
    bool accepted;
    bool named;
    std::string log;
  } const cases[] = {
      {"no manifest", "", true, true, false, ""},
      {"all three", "Manifest=http://h/m\nManifestSha256=" + digest + "\nManifestSize=123\n", true, true, true, ""},
      {"no digest, no key", "Manifest=http://h/m\n", false, true, true, ""},
      {"no digest under a key", "Manifest=http://h/m\n", true, false, true,
       "Refused version.cfg: a public key is configured and its Manifest has no ManifestSha256\n"},
      {"short digest", "Manifest=http://h/m\nManifestSha256=abc\n", false, false, true,
       "Refused version.cfg: ManifestSha256 is not 64 hex digits\n"},
      {"signed size", "Manifest=http://h/m\nManifestSha256=" + digest + "\nManifestSize=-1\n", true, false, true,
       "Refused version.cfg: ManifestSize is not a byte count\n"},
  };
  ScratchDir dir;
  char previous[MAX_PATH] = {};
  ::GetCurrentDirectoryA(sizeof previous, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
  for (const Case& c : cases) {
    update::ResetDownloadLogForTesting();
    ::DeleteFileA((dir / "download.log").c_str());
    ASSERT_TRUE(WriteWholeFile(dir / "version.cfg", "[Launcher]\nVersion=2\n" + c.keys));
    update::ManifestExpectation read;
    EXPECT_EQ(c.accepted, update::ReadManifestExpectation((dir / "version.cfg").c_str(), c.keyConfigured, &read))
        << c.label;
    EXPECT_EQ(c.log, ReadWholeFile(dir / "download.log")) << c.label;
    if (!c.accepted) continue;
    EXPECT_EQ(c.named, read.Named()) << c.label;
    if (c.keys.find("ManifestSize=123") != std::string::npos) {
      EXPECT_TRUE(read.content.hasDigest && read.content.hasSize && read.content.size == 123u) << c.label;
      EXPECT_STREQ("http://h/m", read.url);
    }
  }
  update::ResetDownloadLogForTesting();
  ::SetCurrentDirectoryA(previous);
}

}  // namespace
