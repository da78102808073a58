// The command line of a new launcher's self-test: `--self-test=PATH`, the
// path quoted when it holds blanks. Pure: no windows.h.
#pragma once

#include <cstddef>

namespace app {

// True, with the path in `out`, when the command line (after the program's
// name, as WinMain receives it) is a self-test request. False, with `out`
// empty, for every other command line, and for a path that is empty,
// unterminated by its quote, or does not fit.
bool FindSelfTestPath(const char* commandLine, char* out, std::size_t outSize);

}  // namespace app
