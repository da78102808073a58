// The swap of the launcher's own files, as data: the journal that records it
// before the first file moves (Temp\launcher.journal), where each move stands
// from what is on disk, and the renames that finish it or take it back. The
// running executable is renamed away (a running image may be renamed, never
// replaced or deleted) and the new one moved into its place; each file of
// Data the package names follows, the one it replaces kept beside the old
// executable. Since every move is a rename whose two ends are in the record,
// a start after a kill at any point can tell each move's state and finish or
// undo the whole swap. Pure: no windows.h; parsed natively and fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace update {

struct SwapMove {
  std::string target;        // the executable's path, or a file in Data beside it
  std::string replacement;   // the package's file, unpacked and self-tested in Temp\Launcher
  std::string backup;        // where the file it replaces is kept (Temp\Launcher\previous)
  bool replacesFile = false;  // the target existed when the swap was planned
};

struct SwapRecord {
  std::int32_t version = 0;     // recorded as LauncherVersion once every move is done
  std::vector<SwapMove> moves;  // the executable first
};

// The journal's bytes: text with a CRC-32 of everything before its last
// line. False when a path is empty, holds a tab, a line end or a NUL byte,
// or when there is no move.
bool FormatSwapJournal(const SwapRecord& record, std::string* out);

enum class SwapJournalParse { Valid, Damaged };
SwapJournalParse ParseSwapJournal(const char* data, std::size_t size, SwapRecord* out);

// What is on disk at a move's three paths.
struct MoveFacts {
  bool target = false;
  bool replacement = false;
  bool backup = false;
};

enum class MoveState {
  Pending,  // nothing moved yet
  Half,     // the old file is kept, the new one not yet in its place
  Done,     // the new file is in place (the old one kept, when there was one)
  Lost,     // a combination no cut of the swap leaves: something else moved files
};
MoveState ClassifyMove(const SwapMove& move, const MoveFacts& facts);

enum class SwapDirection {
  Forward,  // every new file in place, every old one kept
  Back,     // every old file in place, every new one back where it was unpacked
};

struct SwapStep {
  std::size_t move = 0;  // index in the record
  std::string from;
  std::string to;
};

// The renames, in order, that take every move from `states` to the end of
// `direction`: forward the executable first, back the executable last, so
// that a launcher is at the executable's path as long as possible. False
// when a move is Lost: then no plan is safe.
bool PlanSwapSteps(const SwapRecord& record, const std::vector<MoveState>& states, SwapDirection direction,
                   std::vector<SwapStep>* steps);

}  // namespace update
