// pack --client DIR --version N --url URL --out DIR [--manifest-url URL] [--sign SECRET_KEY]
//      [--chunks yes|no] [--launcher DIR --launcher-version N --launcher-url URL
//      [--launcher-url2 URL] [--launcher-url3 URL]] [--next DIR]
// pack keygen --public FILE --secret FILE
// Packs a client folder into OUT/ClientContent, describes its entries and
// their byte spans in OUT/ClientContent.manifest, and writes OUT/version.cfg
// announcing both with their sizes and SHA-256s, and with --sign its
// signature OUT/version.cfg.minisig; with --launcher also packs the
// launcher's own folder into OUT/Launcher.zip and announces it in the same
// descriptor, under the same signature; with --next announces the version
// packed into that folder as the next one. Or makes a minisign key pair. Exit
// codes: 0 done, 1 refused or failed, 2 usage.
#include "tools/pack/client_tree.h"
#include "tools/pack/launcher_package.h"
#include "tools/pack/next_release.h"
#include "tools/pack/manifest_builder.h"
#include "tools/pack/signing.h"
#include "tools/pack/version_file.h"
#include "tools/pack/zip_writer.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Options {
  fs::path client;
  fs::path out;
  std::string version;
  std::string url;
  std::string manifestUrl;  // --manifest-url; empty: the archive's URL and ".manifest"
  fs::path secretKey;       // --sign
  bool chunks = true;       // --chunks no: large files deflated as one, like small ones
  fs::path launcher;        // --launcher; empty: no launcher package
  std::string launcherVersion;
  std::string launcherUrls[3];  // --launcher-url, --launcher-url2, --launcher-url3
  fs::path next;                // --next: the output folder of the next version; empty: none
};

const char kUsage[] =
    "usage: pack --client DIR --version N --url URL --out DIR [--manifest-url URL]\n"
    "            [--sign SECRET_KEY] [--chunks yes|no]\n"
    "            [--launcher DIR --launcher-version N --launcher-url URL\n"
    "            [--launcher-url2 URL] [--launcher-url3 URL]] [--next DIR]\n"
    "       pack keygen --public FILE --secret FILE\n"
    "  Packs DIR into OUT/ClientContent, lists its entries in OUT/ClientContent.manifest\n"
    "  and writes OUT/version.cfg ([Launcher] Version=N, Url=URL, where URL is where\n"
    "  ClientContent will be served, Sha256 and Size of the archive, Manifest=the\n"
    "  manifest's URL (--manifest-url, or URL with \".manifest\" appended),\n"
    "  ManifestSha256 and ManifestSize); with --sign also OUT/version.cfg.minisig.\n"
    "  Files of 8 MiB and more are deflated in chunks that a launcher can fetch\n"
    "  alone (the manifest lists them); --chunks no deflates them as one.\n"
    "  --launcher packs DIR (Launcher.exe and Data/, nothing else) into OUT/Launcher.zip\n"
    "  and adds LauncherVersion, LauncherUrl (and LauncherUrl2, LauncherUrl3),\n"
    "  LauncherSha256 and LauncherSize to version.cfg before it is signed.\n"
    "  --next DIR announces the version an earlier run packed into DIR as the next\n"
    "  one (NextVersion, NextUrl, NextSha256, NextSize, NextManifest,\n"
    "  NextManifestSha256, NextManifestSize from DIR/version.cfg), signed with the rest.\n"
    "  keygen makes a minisign key pair; the secret key is stored unencrypted.\n";

// Arguments as paths: wide on Windows, so any folder name gets through.
std::vector<fs::path> Arguments(int argc, char** argv) {
  std::vector<fs::path> args;
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide != nullptr && i < count; ++i) args.emplace_back(wide[i]);
  if (wide != nullptr) LocalFree(wide);
#else
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
#endif
  return args;
}

bool ParseOptions(const std::vector<fs::path>& args, Options* options) {
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    const std::string key = args[i].u8string();
    if (key == "--client") {
      options->client = args[i + 1];
    } else if (key == "--out") {
      options->out = args[i + 1];
    } else if (key == "--version") {
      options->version = args[i + 1].u8string();
    } else if (key == "--url") {
      options->url = args[i + 1].u8string();
    } else if (key == "--manifest-url") {
      options->manifestUrl = args[i + 1].u8string();
    } else if (key == "--sign") {
      options->secretKey = args[i + 1];
    } else if (key == "--chunks") {
      const std::string value = args[i + 1].u8string();
      if (value != "yes" && value != "no") return false;
      options->chunks = value == "yes";
    } else if (key == "--launcher") {
      options->launcher = args[i + 1];
    } else if (key == "--launcher-version") {
      options->launcherVersion = args[i + 1].u8string();
    } else if (key == "--launcher-url") {
      options->launcherUrls[0] = args[i + 1].u8string();
    } else if (key == "--launcher-url2") {
      options->launcherUrls[1] = args[i + 1].u8string();
    } else if (key == "--launcher-url3") {
      options->launcherUrls[2] = args[i + 1].u8string();
    } else if (key == "--next") {
      options->next = args[i + 1];
    } else {
      return false;
    }
  }
  // The launcher's options name one package: all of them or none.
  const bool anyLauncher = !options->launcher.empty() || !options->launcherVersion.empty() ||
                           !options->launcherUrls[0].empty() || !options->launcherUrls[1].empty() ||
                           !options->launcherUrls[2].empty();
  const bool launcherComplete = !options->launcher.empty() && !options->launcherVersion.empty() &&
                                !options->launcherUrls[0].empty();
  return args.size() % 2 == 0 && !options->client.empty() && !options->out.empty() &&
         !options->version.empty() && !options->url.empty() && anyLauncher == launcherComplete;
}

// Prints every refused name of a folder; true when there were any.
bool ReportRefusals(const std::vector<std::string>& refused, const char* folder) {
  for (const std::string& line : refused) {
    std::fprintf(stderr, "pack: refused %s%s\n", folder, line.c_str());
  }
  if (refused.empty()) return false;
  std::fprintf(stderr, "pack: %zu name(s) would not install; nothing written\n", refused.size());
  return true;
}

// Writes OUT/Launcher.zip (under a temporary name until it is whole) and
// appends its keys to the descriptor.
bool WriteLauncherPackage(const fs::path& out, const std::vector<pack::PackEntry>& files,
                          const pack::LauncherRelease& release, std::string* descriptor) {
  const fs::path package = out / "Launcher.zip";
  const fs::path partial = out / "Launcher.zip.partial";
  std::string error;
  // The launcher swaps in its files whole, so none is deflated in chunks.
  if (!pack::WriteClientArchive(partial, files, &error, nullptr, UINT64_MAX)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return false;
  }
  std::error_code ec;
  fs::rename(partial, package, ec);
  update::Sha256Digest digest;
  std::uint64_t size = 0;
  if (ec || !pack::DigestFile(package, &digest, &size)) {
    std::fprintf(stderr, "pack: %s: %s\n", package.u8string().c_str(),
                 ec ? ec.message().c_str() : "cannot be read back");
    return false;
  }
  *descriptor += pack::FormatLauncherFacts(release, digest, size);
  std::printf("pack: %s: %zu files, %ju bytes, LauncherVersion=%d\n", package.u8string().c_str(),
              files.size(), static_cast<std::uintmax_t>(size), static_cast<int>(release.version));
  return true;
}

bool WriteTextFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

bool ReadTextFile(const fs::path& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// pack keygen --public FILE --secret FILE; existing files are never replaced.
int KeyGen(const std::vector<fs::path>& args) {
  fs::path publicFile;
  fs::path secretFile;
  for (size_t i = 1; i + 1 < args.size(); i += 2) {
    const std::string key = args[i].u8string();
    if (key == "--public") {
      publicFile = args[i + 1];
    } else if (key == "--secret") {
      secretFile = args[i + 1];
    } else {
      publicFile.clear();
      break;
    }
  }
  if (args.size() % 2 == 0 || publicFile.empty() || secretFile.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::error_code ec;
  for (const fs::path& file : {publicFile, secretFile}) {
    if (fs::exists(file, ec)) {
      std::fprintf(stderr, "pack: %s exists; not replaced\n", file.u8string().c_str());
      return 1;
    }
  }
  pack::KeyPair pair;
  if (!pack::GenerateKeyPair(&pair)) {
    std::fputs("pack: no randomness for a key pair\n", stderr);
    return 1;
  }
  if (!WriteTextFile(secretFile, pack::FormatSecretKeyFile(pair)) ||
      !WriteTextFile(publicFile, pack::FormatPublicKeyFile(pair.publicKey))) {
    std::fputs("pack: cannot write the key files\n", stderr);
    return 1;
  }
  std::printf("pack: public key for [VersionCDN] PublicKey= in Config.cfg:\n%s\n",
              pack::PublicKeyLine(pair.publicKey).c_str());
  return 0;
}

bool LoadSecretKey(const fs::path& path, pack::KeyPair* pair) {
  std::string text;
  if (!ReadTextFile(path, &text)) {
    std::fprintf(stderr, "pack: cannot read %s\n", path.u8string().c_str());
    return false;
  }
  switch (pack::ParseSecretKeyFile(text, pair)) {
    case pack::SecretKeyRead::Read:
      return true;
    case pack::SecretKeyRead::Malformed:
      std::fprintf(stderr, "pack: %s is not a minisign secret key\n", path.u8string().c_str());
      return false;
    case pack::SecretKeyRead::Encrypted:
      std::fprintf(stderr,
                   "pack: %s is encrypted; use a key made by pack keygen or minisign -G -W\n",
                   path.u8string().c_str());
      return false;
    case pack::SecretKeyRead::Damaged:
      std::fprintf(stderr, "pack: %s is damaged (checksum or public half)\n",
                   path.u8string().c_str());
      return false;
  }
  return false;
}

// The signature of the descriptor, checked with the launcher's own verifier
// before anything is written.
bool SignDescriptor(const std::string& descriptor, const pack::KeyPair& pair,
                    const std::string& version, std::string* signature) {
  const std::string comment =
      "timestamp:" + std::to_string(static_cast<long long>(std::time(nullptr))) +
      "\tfile:version.cfg\tversion:" + version;
  *signature = pack::SignPrehashed(descriptor, pair, comment);
  update::MinisignSignature parsed;
  return !signature->empty() &&
         update::ParseSignatureFile(signature->data(), signature->size(), &parsed) ==
             update::SignatureParse::Parsed &&
         update::VerifyDescriptor(descriptor.data(), descriptor.size(), parsed, &pair.publicKey,
                                  1) == update::DescriptorCheck::Valid;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<fs::path> args = Arguments(argc, argv);
  if (!args.empty() && args[0].u8string() == "keygen") return KeyGen(args);
  Options options;
  if (!ParseOptions(args, &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string versionText;
  std::string error;
  if (!pack::FormatVersionFile(options.version, options.url, &versionText, &error)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return 1;
  }
  const std::string manifestUrl =
      options.manifestUrl.empty() ? pack::DefaultManifestUrl(options.url) : options.manifestUrl;
  if (!pack::CheckServedUrl(manifestUrl, "manifest", &error)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return 1;
  }
  const bool withLauncher = !options.launcher.empty();
  pack::LauncherRelease launcherRelease;
  if (withLauncher && !pack::ReadLauncherRelease(options.launcherVersion, options.launcherUrls[0],
                                                 options.launcherUrls[1], options.launcherUrls[2],
                                                 &launcherRelease, &error)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return 1;
  }
  pack::KeyPair signer;
  if (!options.secretKey.empty() && !LoadSecretKey(options.secretKey, &signer)) return 1;
  std::vector<std::string> refused;
  std::vector<pack::PackEntry> entries = pack::CollectClientEntries(options.client, &refused);
  if (ReportRefusals(refused, "")) return 1;
  std::vector<pack::PackEntry> launcherFiles;
  if (withLauncher) {
    launcherFiles =
        pack::SelectLauncherFiles(pack::CollectClientEntries(options.launcher, &refused), &refused);
    if (ReportRefusals(refused, "in the launcher folder ")) return 1;
  }
  std::error_code ec;
  fs::create_directories(options.out, ec);
  // The archive goes in under a temporary name and the descriptor last, so a
  // server never announces a version whose archive is half written.
  const fs::path archive = options.out / "ClientContent";
  const fs::path partial = options.out / "ClientContent.partial";
  pack::ChunkLayout layout;
  const std::uint64_t chunkedFrom = options.chunks ? pack::kChunkedFileBytes : UINT64_MAX;
  if (!pack::WriteClientArchive(partial, entries, &error, &layout, chunkedFrom)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return 1;
  }
  fs::rename(partial, archive, ec);
  if (ec) {
    std::fprintf(stderr, "pack: %s: %s\n", archive.u8string().c_str(), ec.message().c_str());
    return 1;
  }
  update::Manifest manifest;
  if (!pack::BuildManifest(archive, &manifest, &error, &layout)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return 1;
  }
  const update::Sha256Digest& digest = manifest.archiveSha256;
  const std::uint64_t archiveSize = manifest.archiveSize;
  const std::string manifestText = update::FormatManifest(manifest);
  const fs::path manifestFile = options.out / "ClientContent.manifest";
  if (!WriteTextFile(manifestFile, manifestText)) {
    std::fprintf(stderr, "pack: cannot write %s\n", manifestFile.u8string().c_str());
    return 1;
  }
  pack::AppendArchiveFacts(digest, archiveSize, &versionText);
  pack::AppendManifestFacts(manifestUrl, manifestText, &versionText);
  if (!options.next.empty()) {
    std::string nextText;
    std::int32_t live = 0;
    pack::ParseVersionNumber(options.version, &live);  // checked by FormatVersionFile
    if (!ReadTextFile(options.next / "version.cfg", &nextText)) {
      std::fprintf(stderr, "pack: cannot read %s\n", (options.next / "version.cfg").u8string().c_str());
      return 1;
    }
    if (!pack::AppendNextRelease(nextText, live, &versionText, &error)) {
      std::fprintf(stderr, "pack: %s\n", error.c_str());
      return 1;
    }
  }
  if (withLauncher &&
      !WriteLauncherPackage(options.out, launcherFiles, launcherRelease, &versionText)) {
    return 1;
  }
  // The signature goes in before the descriptor it belongs to.
  const fs::path signatureFile = options.out / "version.cfg.minisig";
  if (!options.secretKey.empty()) {
    std::string signature;
    if (!SignDescriptor(versionText, signer, options.version, &signature)) {
      std::fputs("pack: signing failed\n", stderr);
      return 1;
    }
    if (!WriteTextFile(signatureFile, signature)) {
      std::fprintf(stderr, "pack: cannot write %s\n", signatureFile.u8string().c_str());
      return 1;
    }
  } else {
    fs::remove(signatureFile, ec);  // an older signature would no longer match
  }
  if (!WriteTextFile(options.out / "version.cfg", versionText)) {
    std::fprintf(stderr, "pack: cannot write version.cfg in %s\n", options.out.u8string().c_str());
    return 1;
  }
  size_t folders = 0;
  std::uintmax_t bytes = 0;
  for (const pack::PackEntry& entry : entries) {
    folders += entry.isDirectory ? 1 : 0;
    bytes += entry.size;
  }
  std::printf("pack: %zu entries (%zu folders, %zu files, %ju bytes) -> %s (%ju bytes)\n",
              entries.size(), folders, entries.size() - folders, bytes, archive.u8string().c_str(),
              static_cast<std::uintmax_t>(fs::file_size(archive, ec)));
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(digest, hex);
  std::printf("pack: version.cfg: Version=%s Url=%s Sha256=%s Size=%ju\n", options.version.c_str(),
              options.url.c_str(), hex, static_cast<std::uintmax_t>(archiveSize));
  std::printf("pack: %s: %zu entries (%zu bytes), announced as Manifest=%s\n",
              manifestFile.u8string().c_str(), manifest.entries.size(), manifestText.size(),
              manifestUrl.c_str());
  if (!options.secretKey.empty()) {
    char id[update::kKeyIdTextSize];
    update::FormatKeyId(signer.publicKey.keyId, id);
    std::printf("pack: version.cfg.minisig: signed by key %s\n", id);
  }
  return 0;
}
