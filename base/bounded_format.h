// Bounded text composition into fixed buffers. Every function here writes at
// most `size` bytes, always leaves a terminated string, and tells the caller
// whether the whole text fitted, so that a path or URL that is cut is never
// used as if it were whole. Pure: no windows.h.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace base {

// printf-style formatting. Returns true when the whole text fitted; otherwise
// the buffer is left empty (a cut path must not name another file) and false.
bool FormatInto(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool FormatIntoV(char* buffer, std::size_t size, const char* format, va_list args);

// printf-style formatting that keeps as much as fits (for log texts): the text
// is cut at the buffer's end. Returns true when nothing was cut.
bool FormatTruncated(char* buffer, std::size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
bool FormatTruncatedV(char* buffer, std::size_t size, const char* format, va_list args);

// Copies `source` whole or not at all: on overflow the buffer is left empty.
bool CopyInto(char* buffer, std::size_t size, const char* source);

// Appends `source` whole or not at all: on overflow the buffer is unchanged.
bool AppendInto(char* buffer, std::size_t size, const char* source);

// Array conveniences: the size comes from the array type.
template <std::size_t N>
bool CopyInto(char (&buffer)[N], const char* source) { return CopyInto(buffer, N, source); }
template <std::size_t N>
bool AppendInto(char (&buffer)[N], const char* source) { return AppendInto(buffer, N, source); }

}  // namespace base
