// The commit journal's reader on any bytes: it never reads past them, and a
// record it accepts names only places inside Game and writes back to the
// very same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tests/fuzz/fuzz_check.h"
#include "update/install/commit_journal.h"
#include "update/install/entry_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  update::JournalRecord record;
  if (update::ParseJournal(bytes.data(), bytes.size(), &record) != update::JournalParse::Valid) return 0;
  for (const update::JournalEntry& entry : record.entries) FUZZ_CHECK(update::IsConfinedEntryName(entry.name.c_str()));
  std::string again;
  FUZZ_CHECK(update::FormatJournal(record, &again));
  FUZZ_CHECK(again == bytes);
  return 0;
}
