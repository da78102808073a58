// The name on disk of an archive entry from its flags, stored name and extra
// field: the extra field's block list and the Unicode Path field, the UTF-8
// check (against glibc's own decoder) and the rule's choice. Whatever the
// input, a name is taken from where the rule says, and a converted name
// turns back into exactly the UTF-8 it came from.
#include <iconv.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "update/install/entry_name_encoding.h"

namespace {

// Converts with iconv; false when it refuses any of the input.
bool Convert(const char* to, const char* from, std::string_view in, std::string* out) {
  iconv_t cd = iconv_open(to, from);
  FUZZ_CHECK(cd != reinterpret_cast<iconv_t>(-1));
  std::vector<char> input(in.begin(), in.end());
  std::vector<char> output(4 * in.size() + 4);
  char* inPtr = input.data();
  std::size_t inLeft = input.size();
  char* outPtr = output.data();
  std::size_t outLeft = output.size();
  const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (result == static_cast<std::size_t>(-1) || inLeft != 0) return false;
  out->assign(output.data(), output.size() - outLeft);
  return true;
}

bool Inside(std::string_view part, std::string_view whole) {
  return part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const std::uint32_t flags = data[0] | static_cast<std::uint32_t>(data[1]) << 8;
  const std::size_t storedSize = std::min<std::size_t>(data[2] | static_cast<std::size_t>(data[3]) << 8, size - 4);
  const std::string stored(reinterpret_cast<const char*>(data + 4), storedSize);
  const std::string extra(reinterpret_cast<const char*>(data + 4 + storedSize), size - 4 - storedSize);

  // Well-formed exactly when glibc decodes it, less the NUL no name can hold.
  std::string wide;
  const bool decodes = Convert("UTF-32LE", "UTF-8", stored, &wide);
  FUZZ_CHECK(update::IsWellFormedUtf8(stored) == (decodes && stored.find('\0') == std::string::npos));

  std::string_view field;
  const bool hasField = update::FindUnicodePathName(extra, stored, &field);
  if (hasField) FUZZ_CHECK(Inside(field, extra));

  std::string disk = "left over";
  const update::DiskNameRule rule = update::DecideDiskName(flags, stored, extra, &disk);
  std::string_view utf8;
  switch (rule) {
    case update::DiskNameRule::StoredCodePage936:
      FUZZ_CHECK(!hasField && (flags & update::kUtf8NameFlag) == 0);
      FUZZ_CHECK(disk == stored);
      return 0;
    case update::DiskNameRule::Unrepresentable:
      FUZZ_CHECK(hasField || (flags & update::kUtf8NameFlag) != 0);
      FUZZ_CHECK(disk.empty());
      return 0;
    case update::DiskNameRule::StoredUtf8:
      FUZZ_CHECK(!hasField && (flags & update::kUtf8NameFlag) != 0);
      utf8 = stored;
      break;
    case update::DiskNameRule::UnicodePathField:
      FUZZ_CHECK(hasField);
      utf8 = field;
      break;
  }
  FUZZ_CHECK(update::IsWellFormedUtf8(utf8));
  FUZZ_CHECK(disk.find('\0') == std::string::npos);
  FUZZ_CHECK(disk.size() <= utf8.size());
  std::string back;
  FUZZ_CHECK(Convert("UTF-8", "CP936", disk, &back));
  FUZZ_CHECK(back == utf8);
  return 0;
}
