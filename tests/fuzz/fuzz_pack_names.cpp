// The pack tool's rules: entry names (UTF-8 in, code page 936 out) checked
// against what the launcher's installer accepts, and the version descriptor.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "tests/fuzz/fuzz_check.h"
#include "tools/pack/entry_name.h"
#include "tools/pack/version_file.h"
#include "update/dbcs.h"
#include "update/directory_levels.h"
#include "update/install/entry_name.h"

namespace {

void CheckName(std::string_view utf8) {
  const pack::NameCheck check = pack::CheckEntryName(utf8);
  FUZZ_CHECK(pack::DescribeNameProblem(check.problem) != nullptr);
  if (check.problem != pack::NameProblem::kNone) {
    FUZZ_CHECK(check.gbk.empty());
    return;
  }
  const std::string& gbk = check.gbk;
  FUZZ_CHECK(!gbk.empty() && gbk.size() <= pack::kMaxEntryNameBytes);
  FUZZ_CHECK(gbk.find('\0') == std::string::npos);

  // Whatever the tool ships, the installer takes: confined, a directory
  // exactly when the name ends in "/", and with as many levels as "/" says.
  FUZZ_CHECK(update::IsConfinedEntryName(gbk.c_str()));
  const bool directory = utf8.back() == '/';
  FUZZ_CHECK(update::IsDirectoryEntry(gbk.c_str(), 0) == directory);

  std::size_t separators = 0;  // "/" characters of the stored name, read as code page 936
  for (const char* p = gbk.c_str(); *p != '\0';) {
    const std::size_t n = update::CharLength(p);
    if (n == 1) {
      FUZZ_CHECK(*p != '\\');  // would split a level on Windows
      if (*p == '/') ++separators;
    }
    p += n;
  }
  FUZZ_CHECK(separators == static_cast<std::size_t>(std::count(utf8.begin(), utf8.end(), '/')));

  const std::string path = "C:\\Launcher\\Game/" + gbk;  // 17 + 200 bytes: always fits
  update::DirectoryLevels levels;
  FUZZ_CHECK(update::ListDirectoryLevels(path.c_str(), update::LastLevel::Directory, &levels));
  FUZZ_CHECK(levels.count == 2 + separators + (directory ? 0 : 1));
}

void CheckVersionFile(const std::string& version, const std::string& url) {
  std::string content;
  std::string error;
  if (!pack::FormatVersionFile(version, url, &content, &error)) {
    FUZZ_CHECK(content.empty() && !error.empty());
    return;
  }
  FUZZ_CHECK(!url.empty() && url.size() <= pack::kMaxArchiveUrlBytes);
  const std::string expected = "[Launcher]\r\nVersion=";
  FUZZ_CHECK(content.compare(0, expected.size(), expected) == 0);
  // The launcher reads the number back with a signed 32-bit parse.
  const long long number = std::strtoll(content.c_str() + expected.size(), nullptr, 10);
  FUZZ_CHECK(number >= 1 && number <= INT32_MAX);
  FUZZ_CHECK(content.find("\r\nUrl=" + url + "\r\n") != std::string::npos);
  FUZZ_CHECK(std::count(content.begin(), content.end(), '\n') == 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if (data[0] & 1) {
    CheckName(rest);
  } else {
    const std::size_t cut = rest.find('\n');
    const std::string version(rest.substr(0, cut));
    const std::string url(cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1));
    CheckVersionFile(version, url);
  }
  return 0;
}
