// download.log in the current directory: the launcher's one diagnostic record.
// The first text of a process run empties the file; every text after that is
// appended, and the file is closed after each one so that it is on disk when
// the call returns. The file's path is fixed by that first call.
#pragma once

#include <cstddef>

namespace update {

constexpr std::size_t kLogTextSize = 1024;  // one text: 1,023 bytes and the terminator

// printf-style; a text longer than 1,023 bytes is cut.
void WriteLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes bytes as they are (a received page may hold "%"), cut like WriteLog.
void WriteLogText(const char* text, std::size_t length);

}  // namespace update
