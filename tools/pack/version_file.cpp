#include "tools/pack/version_file.h"

#include <cstdint>
#include <fstream>

namespace pack {

bool ParseVersionNumber(const std::string& text, std::int32_t* number) {
  if (text.empty() || text.size() > 10) return false;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > INT32_MAX) return false;
  *number = static_cast<std::int32_t>(value);
  return true;
}

bool FormatVersionFile(const std::string& version, const std::string& url, std::string* content,
                       std::string* error) {
  content->clear();
  std::int32_t number = 0;
  if (!ParseVersionNumber(version, &number)) {
    *error = "version must be a whole number from 1 to 2147483647, got \"" + version + "\"";
    return false;
  }
  if (!CheckServedUrl(url, "archive", error)) return false;
  *content = "[Launcher]\r\nVersion=" + std::to_string(number) + "\r\nUrl=" + url + "\r\n";
  return true;
}

void AppendArchiveFacts(const update::Sha256Digest& digest, std::uint64_t size,
                        std::string* content) {
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(digest, hex);
  *content += std::string("Sha256=") + hex + "\r\nSize=" + std::to_string(size) + "\r\n";
}

bool CheckServedUrl(const std::string& url, const char* what, std::string* error,
                    std::size_t maxBytes) {
  if (url.empty()) {
    *error = std::string("the ") + what + " URL is empty";
    return false;
  }
  if (url.size() > maxBytes) {
    *error = std::string("the ") + what + " URL is " + std::to_string(url.size()) +
             " bytes; the launcher takes at most " + std::to_string(maxBytes) +
             " (it appends \"?\" and a query within 259)";
    return false;
  }
  for (char c : url) {
    const unsigned char u = static_cast<unsigned char>(c);
    // Printable ASCII without blanks or quotes: the INI reader trims blanks
    // and strips quotes, and other bytes would be read in code page 936.
    if (u <= 0x20 || u >= 0x7F || c == '"' || c == '\'') {
      *error = std::string("the ") + what +
               " URL holds a blank, quote, control or non-ASCII byte; percent-encode it";
      return false;
    }
  }
  return true;
}

std::string DefaultManifestUrl(const std::string& archiveUrl) { return archiveUrl + ".manifest"; }

void AppendManifestFacts(const std::string& url, const std::string& manifest,
                         std::string* content) {
  update::ArchiveVerifier hasher{update::ArchiveExpectation{}};
  hasher.OnBody(manifest.data(), manifest.size());
  hasher.Finish();
  char hex[update::kSha256HexSize];
  update::FormatSha256Hex(hasher.ReceivedDigest(), hex);
  *content += "Manifest=" + url + "\r\nManifestSha256=" + hex +
              "\r\nManifestSize=" + std::to_string(manifest.size()) + "\r\n";
}

bool DigestFile(const std::filesystem::path& path, update::Sha256Digest* digest,
                std::uint64_t* size) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  update::ArchiveVerifier hasher{update::ArchiveExpectation{}};
  char buffer[65536];
  while (in) {
    in.read(buffer, sizeof buffer);
    if (in.gcount() > 0) hasher.OnBody(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) return false;
  hasher.Finish();
  *digest = hasher.ReceivedDigest();
  *size = hasher.Received();
  return true;
}

}  // namespace pack
