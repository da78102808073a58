// A written file's data on the disk: at once (FlushToDisk), or behind its
// writer (WriteBehind), for a large file whose writer still has work to do.
//
// Under Wine, Linux starts writing data behind a writer only once a tenth of
// the memory is waiting (gigabytes on a player's machine), so a large file
// written and then flushed pays its whole disk write at the end, after its
// last byte was made. A thread that flushes the file every so many bytes lets
// the disk write while the writer inflates and checks the rest (measured: the
// installation of four 256 MiB files took 7 % less time). Only the writer's
// own last flush says whether the data reached the disk: the thread's flushes
// are not checked, they only leave that one less to write.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "base/auto_reset_event.h"
#include "base/guards.h"
#include "base/thread.h"

namespace base {

// The stream's buffer, then the system's, to the disk. False when either failed.
bool FlushToDisk(std::FILE* file);

constexpr std::uint64_t kWriteBehindStep = std::uint64_t{64} << 20;

// One flushing thread for one writer (which is one thread): the writer hands
// it a file, and the thread flushes its own duplicate of the file's handle.
// The thread starts at the first hand-over.
class WriteBehind {
 public:
  WriteBehind() = default;
  ~WriteBehind();  // waits for a flush in progress, then ends the thread
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // Starts a flush of `file` on the thread. False when a flush is still in
  // progress (the next hand-over or the writer's own flush takes the data
  // written since) or when no flush could be started.
  bool Hand(HANDLE file);
  // Returns when the thread holds no handle: before the writer's own flush,
  // and before its file may be moved or removed, which the duplicate would
  // otherwise keep open.
  void Settle();

 private:
  static unsigned __stdcall Run(void* self);
  bool Start();

  AutoResetEvent work_;
  UniqueHandle idle_{::CreateEventW(nullptr, TRUE, TRUE, nullptr)};  // set while nothing is flushed
  UniqueHandle handed_;  // the duplicate being flushed; the thread's while idle_ is reset
  std::atomic<bool> busy_{false};  // from a hand-over until the thread has let its duplicate go
  std::atomic<bool> stopping_{false};
  bool failedToStart_ = false;
  Thread thread_;
};

// One file's hand-overs, every `step` bytes written; settles when it ends,
// so no duplicate outlives the file's own handle.
class WriteBehindFile {
 public:
  WriteBehindFile(WriteBehind* behind, std::FILE* file, std::uint64_t step = kWriteBehindStep)
      : behind_(behind), file_(file), step_(step) {}
  ~WriteBehindFile() { behind_->Settle(); }
  WriteBehindFile(const WriteBehindFile&) = delete;
  WriteBehindFile& operator=(const WriteBehindFile&) = delete;

  // After each piece: `written` is the file's size so far.
  void Wrote(std::uint64_t written);

 private:
  WriteBehind* behind_;
  std::FILE* file_;
  std::uint64_t step_;
  std::uint64_t handedAt_ = 0;
};

}  // namespace base
