// Chunks read and checked on several threads, handed on in order. A file of
// chunks is rebuilt by one writer, in order, but each chunk stands alone: its
// bytes are read and hashed against the manifest without the others, so
// helper threads read and hash the chunks ahead of the writer while it writes
// (and checks the whole file). At most a few chunks per thread wait, so memory
// stays bounded by a few chunks whatever the file's size. Pure: std::thread,
// no windows.h.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace update {

// The default number of threads that read chunks ahead: one per processor, at
// most 4 (the writer and the whole file's digest run beside them).
unsigned DefaultChunkThreads();

class ChunkReadAhead {
 public:
  // Reads chunk `index` into `bytes` and tells whether it is good (read whole
  // and of the expected SHA-256). `worker` (below the thread count) is the
  // same for every call on one thread, so that a reader may keep a file open
  // per thread.
  using ReadChunk = std::function<bool(unsigned worker, std::size_t index, std::string* bytes)>;

  // With one thread, chunks are read on the caller's thread, inside Next.
  ChunkReadAhead(std::size_t count, unsigned threads, ReadChunk read);
  ~ChunkReadAhead();  // the helpers end after the chunk each is on
  ChunkReadAhead(const ChunkReadAhead&) = delete;
  ChunkReadAhead& operator=(const ChunkReadAhead&) = delete;

  // The next chunk in order (0, 1, ... up to count - 1), waiting for it:
  // its bytes into `bytes` and whether ReadChunk found it good.
  bool Next(std::string* bytes);

  unsigned Threads() const { return threads_; }
  // Chunks per thread that may be read ahead of the one being handed on.
  static constexpr std::size_t kAheadPerThread = 2;

 private:
  struct Slot {
    std::string bytes;
    bool good = false;
    bool ready = false;
  };

  void Work(unsigned worker);

  const std::size_t count_;
  const unsigned threads_;
  const ReadChunk read_;
  std::vector<Slot> slots_;  // chunk i waits in slot i % slots_.size()
  std::vector<std::thread> helpers_;

  std::mutex lock_;
  std::condition_variable chunkReady_;  // a slot became ready
  std::condition_variable slotFree_;    // a chunk was handed on, or the helpers are to end
  std::size_t taken_ = 0;               // the next chunk a helper takes
  std::size_t handed_ = 0;              // the next chunk Next hands on
  bool ending_ = false;
};

}  // namespace update
