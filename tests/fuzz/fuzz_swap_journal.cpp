// The launcher swap journal's reader on any bytes: it never reads past them,
// and a record it accepts has moves with three writable paths and writes
// back to the very same bytes; the recovery's plan for it, in either
// direction and from any states, only ever renames between a move's own paths.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "update/self_update/launcher_swap_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  update::SwapRecord record;
  if (update::ParseSwapJournal(bytes.data(), bytes.size(), &record) != update::SwapJournalParse::Valid) return 0;
  FUZZ_CHECK(!record.moves.empty() && record.version > 0);
  std::string again;
  FUZZ_CHECK(update::FormatSwapJournal(record, &again));
  FUZZ_CHECK(again == bytes);
  const update::MoveState kStates[] = {update::MoveState::Pending, update::MoveState::Half, update::MoveState::Done};
  std::vector<update::MoveState> states;
  for (std::size_t i = 0; i < record.moves.size(); ++i) states.push_back(kStates[(size + i) % 3]);
  for (update::SwapDirection direction : {update::SwapDirection::Forward, update::SwapDirection::Back}) {
    std::vector<update::SwapStep> steps;
    FUZZ_CHECK(update::PlanSwapSteps(record, states, direction, &steps));
    for (const update::SwapStep& step : steps) {
      FUZZ_CHECK(step.move < record.moves.size());
      const update::SwapMove& move = record.moves[step.move];
      const auto own = [&move](const std::string& path) {
        return path == move.target || path == move.replacement || path == move.backup;
      };
      FUZZ_CHECK(own(step.from) && own(step.to) && step.from != step.to);
    }
  }
  return 0;
}
