// An auto-reset event: a Set wakes one Wait, and a Set while nobody waits is
// kept until the next Wait, so a signal given between a waiter's last look
// and its Wait is never lost. Threads that sleep until there is work sleep on
// one of these.
#pragma once

#include <windows.h>

#include "base/guards.h"

namespace base {

class AutoResetEvent {
 public:
  AutoResetEvent() : handle_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  // False when the system could not make the event; Set and Wait then fail.
  bool Valid() const { return handle_.Valid(); }
  bool Set() const { return handle_.Valid() && ::SetEvent(handle_.Get()) != FALSE; }
  // True when a Set woke it (and reset it); false on timeout or failure.
  bool Wait(DWORD timeoutMs) const {
    return handle_.Valid() && ::WaitForSingleObject(handle_.Get(), timeoutMs) == WAIT_OBJECT_0;
  }
  HANDLE Handle() const { return handle_.Get(); }

 private:
  UniqueHandle handle_;
};

}  // namespace base
