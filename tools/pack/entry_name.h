// Which archive entry names the launcher's installer can put under Game.
// The installer joins "<cwd>\Game/<name>" into a 260-byte buffer, creates a
// directory level for every component, and reads names as code page 936
// bytes; an entry it cannot install either fails the whole update or lands
// somewhere else, so the pack tool refuses such names before they ship.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pack {

// Longest entry name (code page 936 bytes, with the trailing "/" of a
// directory). The launcher's working directory and "\Game/" share the other
// 59 bytes of the 259 a composed path may have.
inline constexpr std::size_t kMaxEntryNameBytes = 200;

enum class NameProblem {
  kNone,
  kEmpty,              // no name at all
  kAbsolute,           // starts with a separator
  kDriveLetter,        // "C:..." names a drive
  kBackslash,          // a "\" would become a separator on Windows
  kEmptyLevel,         // "a//b"
  kDotLevel,           // a "." level
  kParentLevel,        // a ".." level
  kControlChar,        // bytes 1-31
  kForbiddenChar,      // < > : " | ? *
  kTrailingDotOrSpace, // Windows strips these, so the file gets another name
  kReservedName,       // CON, NUL, COM1, ... (with or without extension)
  kNotGbk,             // not valid UTF-8, or not representable in code page 936
  kTooLong,            // over kMaxEntryNameBytes once converted
};

struct NameCheck {
  NameProblem problem = NameProblem::kNone;
  std::string gbk;  // the name as stored in the archive, when problem is kNone
};

// Checks one entry name as it will be stored: "/" separators, a directory
// ending in "/". `utf8` is the name in UTF-8.
NameCheck CheckEntryName(std::string_view utf8);

// A short English sentence for a refusal, for the tool's error output.
const char* DescribeNameProblem(NameProblem problem);

}  // namespace pack
