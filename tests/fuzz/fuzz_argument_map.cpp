// The command line: ParseArguments, Find and FindToken.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/argument_map.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);  // cut at the first NUL by c_str()
  app::ArgumentMap map;
  map.ParseArguments(line.c_str());

  // Every stored argument is one non-empty key and value without a separator.
  std::string again;
  for (const auto& [key, value] : map.Entries()) {
    FUZZ_CHECK(!key.empty() && !value.empty());
    FUZZ_CHECK(key.find_first_of(";,=") == std::string::npos);
    FUZZ_CHECK(value.find_first_of(";,=") == std::string::npos);
    FUZZ_CHECK(key.find('\0') == std::string::npos && value.find('\0') == std::string::npos);
    const char* found = map.Find(key.c_str());
    FUZZ_CHECK(found != nullptr && value == found);
    again += key + "=" + value + ";";
  }
  const char* token = map.FindToken();
  const char* byKey = map.Find("token");
  FUZZ_CHECK(token == byKey);

  // The map written back as a command line parses to the same map.
  app::ArgumentMap reparsed;
  reparsed.ParseArguments(again.c_str());
  FUZZ_CHECK(reparsed.Entries() == map.Entries());

  // Parsing more text never loses a key: later keys only replace values.
  app::ArgumentMap twice = map;
  twice.ParseArguments(line.c_str());
  FUZZ_CHECK(twice.Entries() == map.Entries());
  return 0;
}
