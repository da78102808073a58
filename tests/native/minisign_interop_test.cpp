// Interoperability with Debian's minisign, both ways and with either side's
// keys: what minisign signs, the launcher's check accepts (prehashed and
// legacy); what the pack tool signs, `minisign -V` accepts.
#include <gtest/gtest.h>

#include <sodium.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/support/sha256_hex.h"
#include "update/trust/descriptor_signature.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// The second line of a ".pub" file: what goes into PublicKey=.
std::string PublicKeyLine(const fs::path& pubFile) {
  const std::string text = ReadFile(pubFile);
  const std::size_t start = text.find('\n') + 1;
  return text.substr(start, text.find('\n', start) - start);
}

// The secret key file with its key derivation algorithm replaced.
std::string WithKdf(const std::string& keyFile, char first, char second) {
  const std::size_t start = keyFile.find('\n') + 1;
  const std::string line = keyFile.substr(start, keyFile.find('\n', start) - start);
  unsigned char raw[256];
  std::size_t size = 0;
  EXPECT_EQ(0, sodium_base642bin(raw, sizeof raw, line.data(), line.size(), nullptr, &size, nullptr,
                                 sodium_base64_VARIANT_ORIGINAL));
  raw[2] = static_cast<unsigned char>(first);
  raw[3] = static_cast<unsigned char>(second);
  std::string encoded(sodium_base64_ENCODED_LEN(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(&encoded[0], encoded.size(), raw, size, sodium_base64_VARIANT_ORIGINAL);
  encoded.resize(encoded.find('\0'));
  return keyFile.substr(0, start) + encoded + "\n";
}

class MinisignInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("minisign_interop_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "client");
    WriteFile(dir_ / "client" / "a.pak", "pak contents");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs a shell command in the test's directory; its output goes to out.txt.
  int Run(const std::string& command) {
    const std::string line =
        "cd '" + dir_.string() + "' && " + command + " </dev/null >out.txt 2>&1";
    const int status = std::system(line.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string Output() { return ReadFile(dir_ / "out.txt"); }
  std::string Minisign() const { return std::string("'") + MINISIGN_PROGRAM + "'"; }
  std::string Pack() const { return std::string("'") + PACK_PROGRAM + "'"; }

  update::DescriptorCheck LauncherCheck(const std::string& pubLine, const fs::path& file,
                                        const fs::path& sigFile,
                                        std::string* trustedComment = nullptr) {
    update::MinisignPublicKey key;
    EXPECT_TRUE(update::ParsePublicKey(pubLine.c_str(), &key)) << pubLine;
    const std::string data = ReadFile(file);
    const std::string sigText = ReadFile(sigFile);
    update::MinisignSignature signature;
    EXPECT_EQ(update::SignatureParse::Parsed,
              update::ParseSignatureFile(sigText.data(), sigText.size(), &signature))
        << sigText;
    if (trustedComment) *trustedComment = signature.trustedComment;
    return update::VerifyDescriptor(data.data(), data.size(), signature, &key, 1);
  }

  fs::path dir_;
};

TEST_F(MinisignInterop, WhatMinisignSignsTheLauncherAccepts) {
  ASSERT_EQ(0, Run(Minisign() + " -G -W -p m.pub -s m.key")) << Output();
  const std::string descriptor =
      "[Launcher]\r\nVersion=9\r\nUrl=http://cdn.test/c\r\nSha256=" + std::string(64, 'a') +
      "\r\nSize=1\r\n";
  WriteFile(dir_ / "version.cfg", descriptor);

  struct Case {
    const char* label;
    const char* flags;
    update::SignatureAlgorithm algorithm;
  };
  const Case cases[] = {
      {"prehashed, minisign's default", "", update::SignatureAlgorithm::Prehashed},
      {"legacy", " -l", update::SignatureAlgorithm::Legacy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(0, Run(Minisign() + " -S" + c.flags + " -s m.key -m version.cfg -t 'version:9'"))
        << Output();
    std::string comment;
    EXPECT_EQ(update::DescriptorCheck::Valid,
              LauncherCheck(PublicKeyLine(dir_ / "m.pub"), dir_ / "version.cfg",
                            dir_ / "version.cfg.minisig", &comment));
    EXPECT_EQ("version:9", comment);
    update::MinisignSignature parsed;
    const std::string sigText = ReadFile(dir_ / "version.cfg.minisig");
    ASSERT_EQ(update::SignatureParse::Parsed,
              update::ParseSignatureFile(sigText.data(), sigText.size(), &parsed));
    EXPECT_EQ(c.algorithm, parsed.algorithm);

    WriteFile(dir_ / "version.cfg", descriptor + " ");
    EXPECT_EQ(update::DescriptorCheck::BadSignature,
              LauncherCheck(PublicKeyLine(dir_ / "m.pub"), dir_ / "version.cfg",
                            dir_ / "version.cfg.minisig"));
    WriteFile(dir_ / "version.cfg", descriptor);
  }
}

TEST_F(MinisignInterop, WhatThePackToolSignsMinisignAccepts) {
  ASSERT_EQ(0, Run(Pack() + " keygen --public p.pub --secret p.key")) << Output();
  EXPECT_NE(std::string::npos,
            Output().find(PublicKeyLine(dir_ / "p.pub")));  // printed for Config.cfg
  ASSERT_EQ(0, Run(Pack() + " --client client --version 3 --url http://cdn.test/ClientContent "
                            "--out out --sign p.key"))
      << Output();
  ASSERT_EQ(0, Run(Minisign() + " -V -p p.pub -m out/version.cfg")) << Output();
  EXPECT_NE(std::string::npos, Output().find("version:3")) << Output();

  const std::string descriptor = ReadFile(dir_ / "out" / "version.cfg");
  EXPECT_NE(std::string::npos, descriptor.find("\r\nSha256=")) << descriptor;
  EXPECT_NE(std::string::npos,
            descriptor.find("\r\nSize=" +
                            std::to_string(fs::file_size(dir_ / "out" / "ClientContent")) + "\r\n"))
      << descriptor;
  // The manifest beside the archive, announced after the archive's facts, so
  // that the signature covers it too.
  const std::string manifest = ReadFile(dir_ / "out" / "ClientContent.manifest");
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(manifest.data()),
                     manifest.size());
  char hex[2 * crypto_hash_sha256_BYTES + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  EXPECT_NE(std::string::npos,
            descriptor.find(
                "\r\nManifest=http://cdn.test/ClientContent.manifest\r\nManifestSha256=" +
                std::string(hex) + "\r\nManifestSize=" + std::to_string(manifest.size()) + "\r\n"))
      << descriptor;
  ASSERT_EQ(
      0, Run(Pack() + " --client client --version 3 --url http://cdn.test/ClientContent --out other"
                      " --manifest-url http://manifests.test/3"))
      << Output();
  EXPECT_NE(
      std::string::npos,
      ReadFile(dir_ / "other" / "version.cfg").find("\r\nManifest=http://manifests.test/3\r\n"));

  std::string changed = descriptor;
  changed[changed.find("Version=3") + 8] = '4';
  WriteFile(dir_ / "out" / "version.cfg", changed);
  EXPECT_NE(0, Run(Minisign() + " -V -p p.pub -m out/version.cfg"))
      << "minisign must refuse a changed file";
}

TEST_F(MinisignInterop, TheLauncherPackageIsAnnouncedUnderTheSignature) {
  fs::create_directories(dir_ / "launcher" / "Data" / "skin");
  WriteFile(dir_ / "launcher" / "Launcher.exe", "MZ the new launcher");
  WriteFile(dir_ / "launcher" / "Data" / "Config.cfg", "[VersionCDN]\r\n");
  WriteFile(dir_ / "launcher" / "Data" / "skin" / "bg.png", "png bytes");
  ASSERT_EQ(0, Run(Pack() + " keygen --public p.pub --secret p.key")) << Output();
  const std::string client =
      Pack() + " --client client --version 3 --url http://cdn.test/ClientContent";
  const std::string launcher =
      " --launcher launcher --launcher-version 12 --launcher-url http://cdn.test/Launcher.zip";
  EXPECT_EQ(2, Run(client + " --out out --launcher launcher --launcher-url http://cdn.test/L.zip"));
  EXPECT_EQ(2, Run(client + " --out out --launcher launcher --launcher-version 12"));
  EXPECT_EQ(2,
            Run(client + " --out out --launcher-version 12 --launcher-url http://cdn.test/L.zip"));

  ASSERT_EQ(0, Run(client + " --out plain")) << Output();
  ASSERT_EQ(0, Run(client + " --out out --sign p.key" + launcher +
                   " --launcher-url2 http://mirror.test/Launcher.zip"))
      << Output();
  ASSERT_EQ(0, Run(Minisign() + " -V -p p.pub -m out/version.cfg")) << Output();

  // The client's keys as without --launcher, then the package's, all signed.
  const std::string package = ReadFile(dir_ / "out" / "Launcher.zip");
  EXPECT_EQ(ReadFile(dir_ / "plain" / "version.cfg") +
                "LauncherVersion=12\r\nLauncherUrl=http://cdn.test/Launcher.zip\r\n"
                "LauncherUrl2=http://mirror.test/Launcher.zip\r\nLauncherSha256=" +
                testing_files::Sha256Hex(package) +
                "\r\nLauncherSize=" + std::to_string(package.size()) + "\r\n",
            ReadFile(dir_ / "out" / "version.cfg"));
  ASSERT_EQ(0, Run("unzip -Z1 out/Launcher.zip")) << Output();
  EXPECT_EQ("Data/Config.cfg\nData/skin/bg.png\nLauncher.exe\n", Output());
  EXPECT_EQ(0, Run("unzip -tqq out/Launcher.zip")) << Output();

  WriteFile(dir_ / "launcher" / "notes.txt", "not the launcher's");
  EXPECT_EQ(1, Run(client + " --out refused" + launcher));
  EXPECT_NE(std::string::npos, Output().find("notes.txt")) << Output();
  EXPECT_FALSE(fs::exists(dir_ / "refused" / "version.cfg"));
}

TEST_F(MinisignInterop, EachSideSignsWithTheOthersKeys) {
  ASSERT_EQ(0, Run(Minisign() + " -G -W -p m.pub -s m.key")) << Output();
  ASSERT_EQ(0, Run(Pack() + " keygen --public p.pub --secret p.key")) << Output();

  // The pack tool signs with minisign's secret key; minisign checks.
  ASSERT_EQ(0, Run(Pack() +
                   " --client client --version 5 --url http://cdn.test/c --out out --sign m.key"))
      << Output();
  EXPECT_EQ(0, Run(Minisign() + " -V -p m.pub -m out/version.cfg")) << Output();

  // minisign signs with the pack tool's secret key; the launcher checks.
  WriteFile(dir_ / "v.cfg", "[Launcher]\r\nVersion=5\r\n");
  ASSERT_EQ(0, Run(Minisign() + " -S -s p.key -m v.cfg")) << Output();
  EXPECT_EQ(update::DescriptorCheck::Valid,
            LauncherCheck(PublicKeyLine(dir_ / "p.pub"), dir_ / "v.cfg", dir_ / "v.cfg.minisig"));
  EXPECT_EQ(0, Run(Minisign() + " -V -p p.pub -m v.cfg")) << Output();
}

TEST_F(MinisignInterop, PackRefusesAnEncryptedOrDamagedSecretKey) {
  ASSERT_EQ(0, Run(Pack() + " keygen --public p.pub --secret p.key")) << Output();
  EXPECT_EQ(1, Run(Pack() + " keygen --public p.pub --secret other.key"))
      << "an existing key is never replaced";
  // A key protected by a password says so by its key derivation algorithm "Sc".
  ASSERT_EQ(0, Run(Minisign() + " -G -W -p e.pub -s e.key")) << Output();
  WriteFile(dir_ / "e.key", WithKdf(ReadFile(dir_ / "e.key"), 'S', 'c'));
  EXPECT_EQ(1, Run(Pack() +
                   " --client client --version 2 --url http://cdn.test/c --out out --sign e.key"));
  EXPECT_NE(std::string::npos, Output().find("encrypted")) << Output();

  std::string key = ReadFile(dir_ / "p.key");
  const std::size_t at = key.find('\n') + 1 + 100;  // inside the secret key bytes
  key[at] = key[at] == 'A' ? 'B' : 'A';
  WriteFile(dir_ / "p.key", key);
  EXPECT_EQ(1, Run(Pack() +
                   " --client client --version 2 --url http://cdn.test/c --out out --sign p.key"));
  EXPECT_NE(std::string::npos, Output().find("damaged")) << Output();
  EXPECT_FALSE(fs::exists(dir_ / "out" / "version.cfg"));
}

}  // namespace
