// Which folders of an archive the commit moves into Game whole. A folder that
// Game does not have at all is staged under its own name and brought in with
// one rename, however many files it holds, instead of one rename per file: a
// first installation into an empty Game then takes one move per top-level
// folder. Folders are taken from the entries' names (archives often have no
// directory entries), compared as Windows compares names (update/disk_name.h).
// Pure: no windows.h; Game is looked at through a callable.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "update/install/commit_journal.h"

namespace update {

struct FolderMoveEntry {
  std::string name;        // the entry's name on disk, below Game
  bool directory = false;  // a directory entry (by its name or its attributes)
};

constexpr std::size_t kNotMoved = static_cast<std::size_t>(-1);

struct FolderMoves {
  // The folders moved whole, in the order of the first entry each holds,
  // spelled as that entry spells them, without a trailing separator.
  std::vector<std::string> folders;
  // For every entry, the index in `folders` of the one that holds it, or
  // kNotMoved.
  std::vector<std::size_t> holder;
};

// True when anything (a file or a folder) is at `folder` below Game, or when
// that cannot be told.
using FolderExists = std::function<bool(const std::string& folder)>;

// For the entries to stage, in archive order: the shallowest folder of each
// entry's path (a directory entry's own level included) that Game does not
// have holds it. Asked of each folder once, and never of one whose parent is
// missing. Such a folder is moved whole only when it holds two entries or more
// (one move for one file saves nothing) and when the commit's result cannot
// differ from one move per file: no folder on the way to an entry whose name
// Windows reads otherwise than it is spelled (an empty or "." level, a level
// ending in a dot or space), to an entry longer than `longestName` (it would
// not fit below the staging folder's tree), to a file named twice, or to a
// file named like a folder of the archive is moved whole.
FolderMoves PlanFolderMoves(const std::vector<FolderMoveEntry>& entries, std::size_t longestName,
                            const FolderExists& existsInGame);

// Turns the staged entries, one after another in the order PlanFolderMoves
// saw them, into the commit's journal entries and their places below the
// staging folder.
class StagingLayout {
 public:
  explicit StagingLayout(FolderMoves moves);

  // `planned` is the next entry: a File with its staged number and size, or a
  // Directory. An entry a moved folder holds becomes a TreeFile or a
  // TreeDirectory, and the folder's own Tree entry goes into `plan` before
  // the first entry it holds. Returns where the entry is staged, below the
  // staging folder; empty for a Directory, which only the commit makes.
  std::string Place(JournalEntry* planned, std::vector<JournalEntry>* plan);

 private:
  FolderMoves moves_;
  std::vector<bool> announced_;
  std::size_t next_ = 0;
};

}  // namespace update
