#include "base/thread.h"

#include <process.h>

namespace base {

bool Thread::Start(Procedure procedure, void* argument) {
  unsigned id = 0;
  const uintptr_t h = _beginthreadex(nullptr, 0, procedure, argument, 0, &id);
  if (h == 0) return false;
  handle_.Reset(reinterpret_cast<HANDLE>(h));
  return true;
}

bool Thread::Join(DWORD timeoutMs) {
  if (!handle_.Valid()) return true;
  return ::WaitForSingleObject(handle_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

}  // namespace base
