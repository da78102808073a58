// Archive entry names: directory classification, confinement, and the
// directory levels the installer creates for a name below Game (code page 936
// double-byte characters included).
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/dbcs.h"
#include "update/directory_levels.h"
#include "update/install/entry_name.h"

namespace {

const char kTarget[] = "C:\\Launcher\\Game\\";

bool OnlyDotsAndSpaces(const std::string& level) {
  return level.find_first_not_of(". ") == std::string::npos;
}

// Checks what every successful listing promises and returns its levels.
void CheckListing(const std::string& path, update::LastLevel last, update::DirectoryLevels* levels,
                  bool* ok) {
  *ok = update::ListDirectoryLevels(path.c_str(), last, levels);
  if (!*ok) {
    FUZZ_CHECK(levels->count == 0 && levels->path[0] == '\0');
    return;
  }
  const std::size_t length = strnlen(levels->path, update::kPathSize);
  FUZZ_CHECK(length < update::kPathSize);
  FUZZ_CHECK(levels->count <= sizeof levels->levelEnds / sizeof levels->levelEnds[0]);
  FUZZ_CHECK(levels->rootLength <= length);
  // Character boundaries of the rewritten path: a level ends only at a "\"
  // that is a character of its own, not the trail byte of a double-byte one.
  std::string boundary(length + 1, '\0');
  for (std::size_t i = 0; i < length;) {
    boundary[i] = 1;
    i += update::CharLength(levels->path + i);
  }
  boundary[length] = 1;
  std::size_t previous = levels->rootLength;
  for (std::size_t i = 0; i < levels->count; ++i) {
    const std::size_t end = levels->levelEnds[i];
    FUZZ_CHECK(end <= length && end >= previous + 2);  // never an empty level
    FUZZ_CHECK(levels->path[end - 1] == '\\' && boundary[end - 1] && boundary[end]);
    const std::string level(levels->path + previous, end - 1 - previous);
    FUZZ_CHECK(level != ".");
    previous = end;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t attributes;
  std::memcpy(&attributes, data, sizeof attributes);
  const std::string raw(reinterpret_cast<const char*>(data + 4), size - 4);
  const std::string name(raw.c_str());

  if (attributes & update::kDirectoryAttribute) FUZZ_CHECK(update::IsDirectoryEntry(name.c_str(), attributes));
  if (name.empty()) FUZZ_CHECK(!update::IsDirectoryEntry(name.c_str(), attributes & ~update::kDirectoryAttribute));

  update::DirectoryLevels levels;
  bool ok = false;
  // The name as a path of its own, both ways.
  CheckListing(name, update::LastLevel::FileName, &levels, &ok);
  CheckListing(name, update::LastLevel::Directory, &levels, &ok);

  if (!update::IsConfinedEntryName(name.c_str())) return 0;
  FUZZ_CHECK(!name.empty() && !update::IsSeparator(name[0]));
  FUZZ_CHECK(name.find(':') == std::string::npos);

  // A confined name joined below the target directory: the levels the
  // installer makes all stay below it, and none resolves to a parent.
  CheckListing(kTarget + name, update::LastLevel::Directory, &levels, &ok);
  if (!ok) return 0;
  FUZZ_CHECK(levels.count >= 2);
  FUZZ_CHECK(std::strncmp(levels.path, kTarget, sizeof kTarget - 1) == 0);
  std::size_t previous = levels.rootLength;
  for (std::size_t i = 0; i < levels.count; ++i) {
    const std::string level(levels.path + previous, levels.levelEnds[i] - 1 - previous);
    FUZZ_CHECK(!(OnlyDotsAndSpaces(level) && level.find("..") != std::string::npos));
    FUZZ_CHECK(!(OnlyDotsAndSpaces(level) && std::count(level.begin(), level.end(), '.') >= 2));
    previous = levels.levelEnds[i];
  }
  return 0;
}
