// One wrapper for the launcher's threads: _beginthreadex to start, a handle
// that is closed once, and a bounded join.
#pragma once

#include <windows.h>

#include "base/guards.h"

namespace base {

class Thread {
 public:
  using Procedure = unsigned(__stdcall*)(void*);

  Thread() = default;
  ~Thread() = default;  // closes the handle; the thread itself runs on
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `procedure(argument)` at once. False (with GetLastError set) when
  // the system could not create the thread.
  bool Start(Procedure procedure, void* argument);

  // Waits for the thread to end; true when it has ended (or never ran).
  bool Join(DWORD timeoutMs = INFINITE);

  bool Started() const { return handle_.Valid(); }
  HANDLE Handle() const { return handle_.Get(); }

 private:
  UniqueHandle handle_;
};

}  // namespace base
