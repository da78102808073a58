// Runs a launcher swap and ends its own process right after rename N, as a
// kill at that moment would: swap_cutter <record> <journal> <install.cfg> <N>.
// <record> holds the swap's journal text; the swap writes its own journal.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "tests/support/file_bytes.h"
#include "update/self_update/launcher_swap.h"

int main(int argc, char** argv) {
  if (argc != 5) return 2;
  const std::string text = testing_files::ReadWholeFile(argv[1]);
  update::SwapRecord record;
  if (update::ParseSwapJournal(text.data(), text.size(), &record) != update::SwapJournalParse::Valid) return 2;
  update::SwapPlaces places;
  places.journal = argv[2];
  places.installRecord = argv[3];
  const std::size_t cut = static_cast<std::size_t>(std::strtoul(argv[4], nullptr, 10));
  update::SwapLauncher(record, places, update::SwapTiming{}, [cut](std::size_t renamesDone) {
    if (renamesDone == cut) ::TerminateProcess(::GetCurrentProcess(), 9);
  });
  return 0;  // the swap ended before the cut
}
