#include "app/launcher_config.h"

#include <windows.h>
#include <mbstring.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/bounded_format.h"
#include "base/guards.h"

namespace app {
namespace {

void ReadString(const char* file, const char* section, const char* key, const char* fallback,
                char (&target)[kConfigValueSize]) {
  ::GetPrivateProfileStringA(section, key, fallback, target, kConfigValueSize, file);
}

std::int32_t ReadInt(const char* file, const char* section, const char* key) {
  return static_cast<std::int32_t>(::GetPrivateProfileIntA(section, key, 0, file));
}

// The profile API reads "abc" as 0: the text is read and taken only when it
// is all digits.
std::int32_t ReadConnections(const char* file) {
  char text[32] = {};
  ::GetPrivateProfileStringA("Download", "Connections", "", text, sizeof text, file);
  if (text[0] == '\0') return DownloadSettings::kDefaultConnections;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return DownloadSettings::kDefaultConnections;
  }
  errno = 0;
  const long value = std::strtol(text, nullptr, 10);
  if (errno == ERANGE || value > DownloadSettings::kMostConnections) return DownloadSettings::kMostConnections;
  return value >= 1 ? static_cast<std::int32_t>(value) : DownloadSettings::kDefaultConnections;
}

}  // namespace

bool ReadConfigFile(const char* path, LauncherConfig* config) {
  if (path == nullptr || config == nullptr) return false;

  // The profile API looks for a relative name in the Windows directory, the
  // C runtime in the current one: make the name absolute so both read the
  // same file.
  char full[MAX_PATH] = {};
  const DWORD fullLength = ::GetFullPathNameA(path, sizeof full, full, nullptr);
  const char* file = (fullLength > 0 && fullLength < sizeof full) ? full : path;

  base::UniqueFile probe(std::fopen(file, "r"));
  if (!probe) return false;
  probe.Reset();

  SkinSettings& skin = config->skin;
  ReadString(file, "MainWindow", "NormalImg", "", skin.mainImage);
  ReadString(file, "MinButton", "HitImg", "", skin.minHitImage);
  ReadString(file, "MinButton", "NormalImg", "", skin.minNormalImage);
  skin.minX = ReadInt(file, "MinButton", "X");
  skin.minY = ReadInt(file, "MinButton", "Y");
  ReadString(file, "CloseButton", "HitImg", "", skin.closeHitImage);
  ReadString(file, "CloseButton", "NormalImg", "", skin.closeNormalImage);
  skin.closeX = ReadInt(file, "CloseButton", "X");
  skin.closeY = ReadInt(file, "CloseButton", "Y");
  ReadString(file, "Title", "Name", "ORVA", skin.title);

  ProgressSettings& progress = config->progress;
  ReadString(file, "ProgressWindow", "NormalImg", "", progress.backgroundImage);
  progress.windowX = ReadInt(file, "ProgressWindow", "X");
  progress.windowY = ReadInt(file, "ProgressWindow", "Y");
  ReadString(file, "Progress1", "NormalImg", "", progress.upperBarImage);
  progress.upperBarX = ReadInt(file, "Progress1", "X");
  progress.upperBarY = ReadInt(file, "Progress1", "Y");
  ReadString(file, "Progress2", "NormalImg", "", progress.lowerBarImage);
  progress.lowerBarX = ReadInt(file, "Progress2", "X");
  progress.lowerBarY = ReadInt(file, "Progress2", "Y");

  PageSettings& page = config->page;
  page.x = ReadInt(file, "WebBrowser", "X");
  page.y = ReadInt(file, "WebBrowser", "Y");
  page.width = ReadInt(file, "WebBrowser", "W");
  page.height = ReadInt(file, "WebBrowser", "H");
  ReadString(file, "WebBrowser", "Url", "", page.url);
  ReadString(file, "WebBrowser", "StartPage", "", page.startPage);

  ReadString(file, "Icon", "File", "", config->iconFile);
  ReadString(file, "VersionCDN", "Url", "", config->versionCdnUrl);
  ReadString(file, "VersionCDN", "PublicKey", "", config->publicKey);
  ReadString(file, "VersionCDN", "PublicKey2", "", config->publicKey2);
  ReadString(file, "VersionCDN", "Url2", "", config->versionCdnUrl2);
  ReadString(file, "VersionCDN", "Url3", "", config->versionCdnUrl3);
  ReadString(file, "VersionCDN", "Proxy", "", config->proxy);

  // A negative cap would be no rate at all: it counts as no cap.
  const std::int32_t maxKBps = ReadInt(file, "Download", "MaxKBps");
  config->download.maxKBps = maxKBps > 0 ? maxKBps : 0;
  config->download.connections = ReadConnections(file);
  const std::int32_t backgroundKBps = ReadInt(file, "Download", "BackgroundKBps");
  config->download.backgroundKBps = backgroundKBps > 0 ? backgroundKBps : 0;
  return true;
}

bool CutAtLastSeparator(char* path) {
  if (path == nullptr) return false;
  // _mbsrchr walks the string in the multibyte code page (the ANSI one by
  // default), so the trail byte of a double-byte character is never taken
  // for a "\".
  unsigned char* last = ::_mbsrchr(reinterpret_cast<unsigned char*>(path), '\\');
  if (last == nullptr) return false;
  *last = '\0';
  return true;
}

bool ComposeImagePathFrom(const char* modulePath, const char* value, char* out,
                          std::size_t outSize) {
  if (out == nullptr || outSize == 0) return false;
  if (modulePath == nullptr || value == nullptr || !base::CopyInto(out, outSize, modulePath)) {
    out[0] = '\0';
    return false;
  }
  CutAtLastSeparator(out);
  const bool composed = (value[0] == '\\' || base::AppendInto(out, outSize, "\\")) &&
                        base::AppendInto(out, outSize, value);
  if (!composed) std::memset(out, 0, outSize);
  return composed;
}

}  // namespace app
