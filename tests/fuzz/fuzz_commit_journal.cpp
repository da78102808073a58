// The commit journal's reader on any bytes: it never reads past them, and a
// record it accepts names only places inside Game, puts every entry of a
// moved folder in a folder named before it, and writes back to the very same
// bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "update/install/commit_journal.h"
#include "update/install/entry_name.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  update::JournalRecord record;
  if (update::ParseJournal(bytes.data(), bytes.size(), &record) != update::JournalParse::Valid) return 0;
  for (const update::JournalEntry& entry : record.entries) FUZZ_CHECK(update::IsConfinedEntryName(entry.name.c_str()));
  // Every entry of a moved folder lies in one named before it.
  const std::vector<std::size_t> holders = update::HoldingTrees(record);
  for (std::size_t i = 0; i < record.entries.size(); ++i) {
    const update::JournalEntryKind kind = record.entries[i].kind;
    if (kind == update::JournalEntryKind::TreeFile || kind == update::JournalEntryKind::TreeDirectory)
      FUZZ_CHECK(holders[i] != update::kNoTree && holders[i] < i);
  }
  std::string again;
  FUZZ_CHECK(update::FormatJournal(record, &again));
  FUZZ_CHECK(again == bytes);
  return 0;
}
