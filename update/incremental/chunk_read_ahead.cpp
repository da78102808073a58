#include "update/incremental/chunk_read_ahead.h"

#include <algorithm>
#include <utility>

namespace update {

unsigned DefaultChunkThreads() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, 4u);
}

ChunkReadAhead::ChunkReadAhead(std::size_t count, unsigned threads, ReadChunk read)
    : count_(count),
      threads_(static_cast<unsigned>(std::max<std::size_t>(1, std::min<std::size_t>(threads, count)))),
      read_(std::move(read)) {
  if (threads_ == 1) return;
  slots_.resize(threads_ * kAheadPerThread);
  for (unsigned worker = 0; worker < threads_; ++worker) helpers_.emplace_back([this, worker] { Work(worker); });
}

ChunkReadAhead::~ChunkReadAhead() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  slotFree_.notify_all();
  for (std::thread& helper : helpers_) helper.join();
}

void ChunkReadAhead::Work(unsigned worker) {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    // A chunk is taken only when its slot is free: the one handed on last
    // that used it is gone.
    slotFree_.wait(hold, [this] { return ending_ || (taken_ < count_ && taken_ < handed_ + slots_.size()); });
    if (ending_) return;
    const std::size_t index = taken_++;
    Slot& slot = slots_[index % slots_.size()];
    std::string bytes = std::move(slot.bytes);  // its room, from two rounds ago
    hold.unlock();
    const bool good = read_(worker, index, &bytes);
    hold.lock();
    slot.bytes = std::move(bytes);
    slot.good = good;
    slot.ready = true;
    chunkReady_.notify_all();
  }
}

bool ChunkReadAhead::Next(std::string* bytes) {
  if (handed_ >= count_) return false;
  if (helpers_.empty()) return read_(0, handed_++, bytes);
  std::unique_lock<std::mutex> hold(lock_);
  Slot& slot = slots_[handed_ % slots_.size()];
  chunkReady_.wait(hold, [&slot] { return slot.ready; });
  // The caller's buffer goes back into the slot: the helpers reuse its room.
  std::swap(*bytes, slot.bytes);
  const bool good = slot.good;
  slot.ready = false;
  ++handed_;
  hold.unlock();
  slotFree_.notify_all();
  return good;
}

}  // namespace update
