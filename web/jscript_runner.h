// Runs JavaScript text through the platform's JScript engine with the page's
// view of the launcher: the named items "external" (the given object) and
// "window" (whose property `external` is that object), so that both
// `window.external.IntoGame(...)` and `external.IntoGame(...)` reach it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>

namespace web {

// Runs `code` to its end on the calling thread, which must have COM (or
// OLE) initialised. `external` may be null: then only `window` exists and
// its `external` is null. Returns true when the engine ran the script without
// an error; otherwise `error` (when given) receives a one-line description in
// the ANSI code page, such as "line 1, column 3: <engine text>".
bool RunJScript(const wchar_t* code, IDispatch* external, char* error, std::size_t errorSize);

}  // namespace web
