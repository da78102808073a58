#include "tools/pack/launcher_package.h"

#include <set>

#include "tools/pack/version_file.h"

namespace pack {

namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The root-level name an entry belongs to, as it is listed ("Skins/" for
// "Skins/a.png", "x.txt" for itself), so that a stray folder is reported once.
std::string RootLevel(const std::string& name) {
  const std::size_t slash = name.find('/');
  return slash == std::string::npos ? name : name.substr(0, slash + 1);
}

}  // namespace

bool ReadLauncherRelease(const std::string& version, const std::string& url,
                         const std::string& url2, const std::string& url3, LauncherRelease* release,
                         std::string* error) {
  if (!ParseVersionNumber(version, &release->version)) {
    *error =
        "launcher version must be a whole number from 1 to 2147483647, got \"" + version + "\"";
    return false;
  }
  if (!CheckServedUrl(url, "launcher", error, kMaxLauncherUrlBytes)) return false;
  const std::string* mirrors[] = {&url2, &url3};
  const char* const labels[] = {"second launcher", "third launcher"};
  for (int i = 0; i < 2; ++i) {
    if (!mirrors[i]->empty() &&
        !CheckServedUrl(*mirrors[i], labels[i], error, kMaxLauncherUrlBytes))
      return false;
    release->mirrors[i] = *mirrors[i];
  }
  release->url = url;
  return true;
}

std::vector<PackEntry> SelectLauncherFiles(const std::vector<PackEntry>& entries,
                                           std::vector<std::string>* errors) {
  std::vector<PackEntry> files;
  std::set<std::string> strays;
  bool hasExecutable = false;
  for (const PackEntry& entry : entries) {
    if (entry.name == kLauncherDataFolder) continue;
    if (!entry.isDirectory && entry.name == kLauncherExecutable) {
      hasExecutable = true;
    } else if (!StartsWith(entry.name, kLauncherDataFolder)) {
      const std::string root = RootLevel(entry.name);
      if (strays.insert(root).second) {
        errors->push_back(root + ": a launcher folder holds only " + kLauncherExecutable + " and " +
                          kLauncherDataFolder);
      }
      continue;
    }
    if (!entry.isDirectory) files.push_back(entry);
  }
  if (!hasExecutable) {
    errors->push_back(std::string(kLauncherExecutable) +
                      ": missing from the launcher folder's root");
  }
  return files;
}

std::string FormatLauncherFacts(const LauncherRelease& release, const update::Sha256Digest& digest,
                                std::uint64_t size) {
  std::string lines = "LauncherVersion=" + std::to_string(release.version) + "\r\n";
  lines += "LauncherUrl=" + release.url + "\r\n";
  if (!release.mirrors[0].empty()) lines += "LauncherUrl2=" + release.mirrors[0] + "\r\n";
  if (!release.mirrors[1].empty()) lines += "LauncherUrl3=" + release.mirrors[1] + "\r\n";
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(digest, hex);
  lines +=
      std::string("LauncherSha256=") + hex + "\r\nLauncherSize=" + std::to_string(size) + "\r\n";
  return lines;
}

}  // namespace pack
