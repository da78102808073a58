// Rules for the names stored in a client archive: which entries are
// directories, and which names stay inside the directory they unpack into.
// Pure: no windows.h.
#pragma once

#include <cstdint>

namespace update {

// The directory bit of an entry's external attributes.
constexpr std::uint32_t kDirectoryAttribute = 0x10;

// An entry is a directory when its name ends in a separator or when the
// directory attribute bit is set, whatever else is set beside it (archivers
// add the archive bit, or a Unix mode in the upper 16 bits).
bool IsDirectoryEntry(const char* name, std::uint32_t externalAttributes);

// True when the name, joined below a target directory, names a place inside
// it: not empty, no leading separator, no drive letter or other ":", and no
// level made of dots beyond "." (Windows reads "..", "..." and ".. " as the
// parent once trailing dots and spaces are dropped), and no level that names
// a device (NUL, CON, COM1, aux.txt, ...).
bool IsConfinedEntryName(const char* name);

// A level (the bytes from `begin` to `end`, no separator) that Windows opens
// as a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9), with any extension and
// trailing spaces, in any case: its data would go to the device, not into a
// file below the target directory. The pack tool refuses the same names.
bool IsDeviceName(const char* begin, const char* end);

}  // namespace update
