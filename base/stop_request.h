// A request that a thread stop at its next safe point: set once by another
// thread (the player's cancel, the launcher's exit), looked at by the one
// that works, and never taken back. Waits that stand between two safe points
// (the pause before a retry) wait on its event, so that a stop ends them at
// once rather than after their full time.
#pragma once

#include <windows.h>

#include <atomic>

#include "base/guards.h"

namespace base {

class StopRequest {
 public:
  StopRequest() : event_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  void Request() {
    requested_.store(true);
    if (event_.Valid()) ::SetEvent(event_.Get());
  }
  bool Requested() const { return requested_.load(); }
  // The manual-reset event a Request sets, for a wait on more than one thing
  // (null when the system could not make one).
  HANDLE Event() const { return event_.Get(); }

  // Sleeps up to `ms`. True when a stop was requested (before or meanwhile).
  // Without an event (the system could not make one) it sleeps the whole time.
  bool SleepUnlessStopped(DWORD ms) const {
    if (Requested()) return true;
    if (event_.Valid()) return ::WaitForSingleObject(event_.Get(), ms) == WAIT_OBJECT_0;
    ::Sleep(ms);
    return Requested();
  }

 private:
  std::atomic<bool> requested_{false};
  UniqueHandle event_;
};

}  // namespace base
