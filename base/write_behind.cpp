#include "base/write_behind.h"

#include <io.h>

namespace base {

namespace {

HANDLE HandleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

}  // namespace

bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  const HANDLE handle = HandleOf(file);
  return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != 0;
}

WriteBehind::~WriteBehind() {
  if (!thread_.Started()) return;
  Settle();
  stopping_ = true;
  work_.Set();
  thread_.Join();
}

bool WriteBehind::Start() {
  if (thread_.Started()) return true;
  if (failedToStart_ || !work_.Valid() || !idle_.Valid() || !thread_.Start(&WriteBehind::Run, this)) {
    failedToStart_ = true;
    return false;
  }
  return true;
}

bool WriteBehind::Hand(HANDLE file) {
  // The writer asks after every piece while a flush runs: the flag answers
  // without a call to the system.
  if (busy_ || !Start()) return false;
  HANDLE duplicate = nullptr;
  const HANDLE self = ::GetCurrentProcess();
  if (!::DuplicateHandle(self, file, self, &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) return false;
  handed_.Reset(duplicate);
  busy_ = true;
  ::ResetEvent(idle_.Get());
  if (work_.Set()) return true;
  handed_.Reset();
  busy_ = false;
  ::SetEvent(idle_.Get());
  return false;
}

void WriteBehind::Settle() {
  if (!thread_.Started()) return;
  // A thread that ended without taking its hand-over holds nothing more.
  const HANDLE either[2] = {idle_.Get(), thread_.Handle()};
  if (::WaitForMultipleObjects(2, either, FALSE, INFINITE) != WAIT_OBJECT_0) handed_.Reset();
}

unsigned __stdcall WriteBehind::Run(void* self) {
  auto* behind = static_cast<WriteBehind*>(self);
  while (behind->work_.Wait(INFINITE) && !behind->stopping_) {
    ::FlushFileBuffers(behind->handed_.Get());  // unchecked: the writer's own flush is the one that counts
    behind->handed_.Reset();
    behind->busy_ = false;
    ::SetEvent(behind->idle_.Get());
  }
  return 0;
}

void WriteBehindFile::Wrote(std::uint64_t written) {
  if (written - handedAt_ < step_ || std::fflush(file_) != 0) return;
  const HANDLE handle = HandleOf(file_);
  if (handle != INVALID_HANDLE_VALUE && behind_->Hand(handle)) handedAt_ = written;
}

}  // namespace base
