// pack --client DIR --version N --url URL --out DIR
// Packs a client folder into OUT/ClientContent and writes OUT/version.cfg
// announcing it. Exit codes: 0 packed, 1 refused or failed, 2 usage.
#include "tools/pack/client_tree.h"
#include "tools/pack/version_file.h"
#include "tools/pack/zip_writer.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
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
};

const char kUsage[] =
    "usage: pack --client DIR --version N --url URL --out DIR\n"
    "  Packs DIR into OUT/ClientContent and writes OUT/version.cfg\n"
    "  ([Launcher] Version=N, Url=URL, where URL is where ClientContent will be served).\n";

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
    } else {
      return false;
    }
  }
  return args.size() % 2 == 0 && !options->client.empty() && !options->out.empty() &&
         !options->version.empty() && !options->url.empty();
}

bool WriteTextFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(Arguments(argc, argv), &options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string versionText;
  std::string error;
  if (!pack::FormatVersionFile(options.version, options.url, &versionText, &error)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return 1;
  }
  std::vector<std::string> refused;
  std::vector<pack::PackEntry> entries = pack::CollectClientEntries(options.client, &refused);
  if (!refused.empty()) {
    for (const std::string& line : refused) std::fprintf(stderr, "pack: refused %s\n", line.c_str());
    std::fprintf(stderr, "pack: %zu name(s) would not install; nothing written\n", refused.size());
    return 1;
  }
  std::error_code ec;
  fs::create_directories(options.out, ec);
  // The archive goes in under a temporary name and the descriptor last, so a
  // server never announces a version whose archive is half written.
  const fs::path archive = options.out / "ClientContent";
  const fs::path partial = options.out / "ClientContent.partial";
  if (!pack::WriteClientArchive(partial, entries, &error)) {
    std::fprintf(stderr, "pack: %s\n", error.c_str());
    return 1;
  }
  fs::rename(partial, archive, ec);
  if (ec) {
    std::fprintf(stderr, "pack: %s: %s\n", archive.u8string().c_str(), ec.message().c_str());
    return 1;
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
  std::printf("pack: %zu entries (%zu folders, %zu files, %ju bytes) -> %s (%ju bytes)\n", entries.size(),
              folders, entries.size() - folders, bytes, archive.u8string().c_str(),
              static_cast<std::uintmax_t>(fs::file_size(archive, ec)));
  std::printf("pack: version.cfg: Version=%s Url=%s\n", options.version.c_str(), options.url.c_str());
  return 0;
}
