#include "tools/pack/next_release.h"

#include <map>

#include "tools/pack/version_file.h"
#include "update/trust/archive_digest.h"

namespace pack {

namespace {

// The keys of the [Launcher] section, as the pack tool writes them (one
// "key=value" a line, CR LF or LF).
std::map<std::string, std::string> LauncherKeys(const std::string& text) {
  std::map<std::string, std::string> keys;
  bool inSection = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line.front() == '[') {
      inSection = line == "[Launcher]";
      continue;
    }
    const std::size_t eq = line.find('=');
    if (inSection && eq != std::string::npos && eq != 0) keys.emplace(line.substr(0, eq), line.substr(eq + 1));
  }
  return keys;
}

}  // namespace

bool AppendNextRelease(const std::string& next, std::int32_t liveVersion, std::string* content, std::string* error) {
  const std::map<std::string, std::string> keys = LauncherKeys(next);
  static const char* const kNames[] = {"Version",  "Url",           "Sha256",      "Size",
                                       "Manifest", "ManifestSha256", "ManifestSize"};
  for (const char* name : kNames) {
    if (keys.count(name) == 0) {
      *error = std::string("the next version's version.cfg names no ") + name;
      return false;
    }
  }
  std::int32_t version = 0;
  if (!ParseVersionNumber(keys.at("Version"), &version) || version <= liveVersion) {
    *error = "the next version (" + keys.at("Version") + ") must be a whole number above " +
             std::to_string(liveVersion);
    return false;
  }
  if (!CheckServedUrl(keys.at("Url"), "next archive", error) ||
      !CheckServedUrl(keys.at("Manifest"), "next manifest", error))
    return false;
  update::Sha256Digest digest;
  std::uint64_t size = 0;
  for (const char* name : {"Sha256", "ManifestSha256"}) {
    if (!update::ParseSha256Hex(keys.at(name).c_str(), &digest)) {
      *error = std::string("the next version's ") + name + " is not 64 hex digits";
      return false;
    }
  }
  for (const char* name : {"Size", "ManifestSize"}) {
    if (!update::ParseByteCount(keys.at(name).c_str(), &size)) {
      *error = std::string("the next version's ") + name + " is not a byte count";
      return false;
    }
  }
  for (const char* name : kNames) *content += std::string("Next") + name + "=" + keys.at(name) + "\r\n";
  return true;
}

}  // namespace pack
