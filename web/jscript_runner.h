// Runs JavaScript text through the platform's JScript engine with the page's
// view of the launcher: the named items "external" (the given object) and
// "window" (whose property `external` is that object, and whose
// `setTimeout(function, ms)` runs the function later), so that both
// `window.external.IntoGame(...)` and `external.IntoGame(...)` reach it.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <cstddef>
#include <memory>

namespace web {

// One engine that stays up after its script has run, so that the functions
// handed to window.setTimeout run when their time comes: from the thread
// timers of the calling thread, which must run a message loop and have COM
// (or OLE) initialised. The page host's script lives as long as this does.
class ScriptEngine {
 public:
  ScriptEngine();
  ~ScriptEngine();  // Close()
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  // Starts the engine with `external` (may be null). False, with the failed
  // step in `error`, when the engine cannot be had.
  bool Start(IDispatch* external, char* error, std::size_t errorSize);
  // Runs `code` to its end. True when it ran without an error; otherwise
  // `error` receives a one-line description in the ANSI code page, such as
  // "line 1, column 3: <engine text>".
  bool Run(const wchar_t* code, char* error, std::size_t errorSize);
  // The functions handed to setTimeout that have not run yet.
  std::size_t PendingTimeouts() const;
  // The description of the last error raised by a function that a timeout
  // ran ("" when none has failed).
  const char* LastTimeoutError() const;
  // Drops the pending timeouts and closes the engine; it takes no more script.
  void Close();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Runs `code` to its end on the calling thread, which must have COM (or
// OLE) initialised, and closes the engine: a function handed to setTimeout
// never runs. `external` may be null: then only `window` exists and its
// `external` is null. Returns true when the engine ran the script without an
// error; otherwise `error` (when given) receives the description.
bool RunJScript(const wchar_t* code, IDispatch* external, char* error, std::size_t errorSize);

}  // namespace web
