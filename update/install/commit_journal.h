// The commit journal: the record, written before the first staged file is
// moved into Game, that a commit of version N has begun, with every staged
// file it moves (and every directory it makes, and every file and directory it
// removes because version N dropped it). It is removed once N is
// recorded, so a journal found at start means a commit was interrupted and
// tells how to finish it. A folder that Game did not have is moved in whole
// (update/install/folder_moves.h): the journal names it, and still lists every
// file in it with its size, so that recovery can tell a moved folder from a
// damaged one. The record is text with a CRC-32 of everything before its last
// line, so a cut or altered journal is recognised as damaged.
// Pure: no windows.h; parsed natively and fuzzed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace update {

// A file moved in from staging, a directory made, and what the new version
// dropped: a file removed, and a directory removed when it is left empty.
// Tree: a folder moved in whole from the staging folder's tree (see
// StagedTreeName); TreeFile and TreeDirectory: a file (with its size) and a
// directory entry inside a Tree named before them, staged under their own
// names in that tree and moved with it.
enum class JournalEntryKind { File, Directory, RemovedFile, RemovedDirectory, Tree, TreeFile, TreeDirectory };

struct JournalEntry {
  JournalEntryKind kind = JournalEntryKind::File;
  std::uint32_t staged = 0;  // file number in the staging folder (File only)
  std::uint64_t size = 0;    // the file's size in bytes (File and TreeFile)
  std::string name;          // the archive's entry name, below Game (a Tree's without a trailing separator)
};

struct JournalRecord {
  std::int32_t version = 0;
  std::vector<JournalEntry> entries;  // in archive order
};

// The name of staged file `number` inside the staging folder: a folder for
// every kStagedFilesPerFolder files and the number, each as eight decimal
// digits ("00000001\00000130"), so that no entry name has to fit in it and no
// folder grows so large that creating a file in it (which looks for a name
// differing only in case) becomes slow.
constexpr std::uint32_t kStagedFilesPerFolder = 128;
std::string StagedFileName(std::uint32_t number);

// The place, inside the staging folder, of an entry (or a whole folder) that
// the commit moves in with its folder: "tree\" and the entry's name. No
// staged number's folder (eight digits) is named "tree".
std::string StagedTreeName(const std::string& name);

// For every entry of `record`, the index of the Tree entry before it whose
// folder holds it (the shallowest, should several), or kNoTree. Only TreeFile and TreeDirectory entries
// are held (a TreeDirectory may be the folder itself).
constexpr std::size_t kNoTree = static_cast<std::size_t>(-1);
std::vector<std::size_t> HoldingTrees(const JournalRecord& record);

// The journal's bytes. False when an entry cannot be written into a journal
// (an empty name or one holding a line end or NUL byte; such names never
// pass the installation's checks), and when a tree entry lies in no Tree
// named before it or a Tree's name ends in a separator (ParseJournal would
// refuse the record).
bool FormatJournal(const JournalRecord& record, std::string* out);

enum class JournalParse {
  Valid,
  Damaged,  // cut, altered, of another format, or naming a place outside Game
};

// Reads a journal back. Anything but a whole, well-formed record whose
// checksum matches, whose file numbers rise, whose names stay inside the
// directory they unpack into, and whose tree entries each lie in a Tree named
// before them is Damaged.
JournalParse ParseJournal(const char* data, std::size_t size, JournalRecord* out);

}  // namespace update
