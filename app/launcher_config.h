// The launcher's settings from Data\Config.cfg (an INI file next to the
// executable) and the composition of the skin images' absolute paths.
#pragma once

#include <cstddef>
#include <cstdint>

namespace app {

constexpr std::size_t kConfigValueSize = 260;  // MAX_PATH: values, paths, URLs

// Skins of the main window and of its two buttons; the title of the main window.
struct SkinSettings {
  std::int32_t minX = 0;
  std::int32_t minY = 0;
  std::int32_t closeX = 0;
  std::int32_t closeY = 0;
  char mainImage[kConfigValueSize] = {};
  char minHitImage[kConfigValueSize] = {};
  char minNormalImage[kConfigValueSize] = {};
  char closeHitImage[kConfigValueSize] = {};
  char closeNormalImage[kConfigValueSize] = {};
  char title[kConfigValueSize] = {};
};

// The progress window. windowX/windowY are kept but never used for placement:
// the progress window is always centred.
struct ProgressSettings {
  std::int32_t windowX = 0;
  std::int32_t windowY = 0;
  std::int32_t upperBarX = 0;
  std::int32_t upperBarY = 0;
  std::int32_t lowerBarX = 0;
  std::int32_t lowerBarY = 0;
  char backgroundImage[kConfigValueSize] = {};
  char upperBarImage[kConfigValueSize] = {};
  char lowerBarImage[kConfigValueSize] = {};
};

// The page host: its rectangle relative to the main window and the page URLs.
struct PageSettings {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  char url[kConfigValueSize] = {};
  char startPage[kConfigValueSize] = {};
};

// [Download]: MaxKBps caps every transfer at that many KiB a second (the
// connections of one transfer share the cap); BackgroundKBps caps the
// transfers made while the page shows, before the player asks for the game
// (then MaxKBps applies). 0, absent or negative means no cap. Connections:
// how many connections a large archive, or a batch of its ranges, is fetched
// over at once; 1 is one connection, one request after another; more than
// kMostConnections counts as that many; absent, 0, negative or not a number
// gives the default.
struct DownloadSettings {
  static constexpr std::int32_t kDefaultConnections = 4;
  static constexpr std::int32_t kMostConnections = 8;
  std::int32_t maxKBps = 0;
  std::int32_t connections = kDefaultConnections;
  std::int32_t backgroundKBps = 0;
};

// The configuration records, all zero and empty until read.
struct LauncherConfig {
  SkinSettings skin;
  ProgressSettings progress;
  PageSettings page;
  DownloadSettings download;
  char iconFile[kConfigValueSize] = {};       // loaded exactly as written (not made absolute)
  char versionCdnUrl[kConfigValueSize] = {};  // read later by the update worker
  char publicKey[kConfigValueSize] = {};      // minisign public key of the descriptor's signer
  char publicKey2[kConfigValueSize] = {};     // a second one, while keys roll over
  char versionCdnUrl2[kConfigValueSize] = {};  // mirrors of the descriptor, tried in turn
  char versionCdnUrl3[kConfigValueSize] = {};
  char proxy[kConfigValueSize] = {};          // "none", "host:port", or empty: the system's settings
};

// Reads every key of the file at `path` into `config`. Returns false, leaving
// `config` untouched, only when the file cannot be opened for reading. Missing
// sections and keys give 0, empty strings and the title "ORVA"; longer values
// are cut to 259 characters by the profile API.
bool ReadConfigFile(const char* path, LauncherConfig* config);

// Composes <directory of modulePath>\<value> into out[0..outSize). The last
// "\" is found character by character in the ANSI code page, so a double-byte
// character whose second byte is 0x5C does not count as a separator. A value
// that starts with "\" gets no second one. When the result does not fit, `out`
// is left empty and false is returned: an empty path names no image, so the
// image simply does not load.
bool ComposeImagePathFrom(const char* modulePath, const char* value, char* out,
                          std::size_t outSize);

// Ends `path` at its last "\" (character-wise, ANSI code page). Returns false
// and leaves the text as it was when there is none.
bool CutAtLastSeparator(char* path);

}  // namespace app
