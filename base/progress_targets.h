// The three numbers that the update worker (and the transfer and installation
// it runs) hands to the progress window: the upper-bar target, the lower-bar
// target and the stage index. The progress bar owns one of these; other
// threads only store into it, and its animation thread reads it. Each field
// has one writer, so plain atomic loads and stores are all that is needed.
// A store that changes a number sets the `changed` event, on which the
// animation thread sleeps while nothing moves. Beside the bars go the counts
// the stage line shows (bytes of a transfer, files of a staging), and one
// request the other way: the player's cancel or the launcher's exit asks the
// worker, and everything it runs, to stop.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/auto_reset_event.h"
#include "base/stop_request.h"

namespace progress {

// One number and the event its changes set. Storing the value it already
// holds wakes nobody: a sleeping reader has seen it already.
class Target {
 public:
  explicit Target(const base::AutoResetEvent& changed) : changed_(changed) {}
  Target(const Target&) = delete;
  Target& operator=(const Target&) = delete;

  std::int32_t load(std::memory_order order = std::memory_order_seq_cst) const {
    return value_.load(order);
  }
  void store(std::int32_t value, std::memory_order order = std::memory_order_seq_cst) {
    if (value_.exchange(value, order) != value) changed_.Set();
  }
  Target& operator=(std::int32_t value) {
    store(value);
    return *this;
  }

 private:
  std::atomic<std::int32_t> value_{0};
  const base::AutoResetEvent& changed_;
};

// What the stage line counts: nothing, the bytes of the transfer that runs,
// or the files of the staging or check that runs.
enum class CountUnit : std::int32_t { None, Bytes, Files };

// Done and in all of the current count. The writer stores `done` last, so a
// reader that sees a unit and a total sees the count they belong to; a total
// of 0 means none is known yet. Bytes are 64-bit: archives pass 4 GiB.
// A reader whose line has nothing new to show while the count stands still
// (a stalled transfer) sleeps until the next Set: it arms the wake-up, looks
// at `done` once more, and waits on the event the count was made with.
struct StageCount {
  explicit StageCount(const base::AutoResetEvent* changed = nullptr) : changed_(changed) {}
  StageCount(const StageCount&) = delete;
  StageCount& operator=(const StageCount&) = delete;

  std::atomic<std::int32_t> unit{static_cast<std::int32_t>(CountUnit::None)};
  std::atomic<std::int64_t> total{0};
  std::atomic<std::int64_t> done{0};

  void Set(CountUnit what, std::int64_t doneNow, std::int64_t totalNow) {
    unit.store(static_cast<std::int32_t>(what), std::memory_order_relaxed);
    total.store(totalNow, std::memory_order_relaxed);
    done.store(doneNow, std::memory_order_seq_cst);
    // After the store: a reader that armed before it is woken, one that arms
    // after it sees the new `done` when it looks again.
    if (wakeOnSet_.load(std::memory_order_seq_cst) && wakeOnSet_.exchange(false) && changed_ != nullptr)
      changed_->Set();
  }
  // True when `done` still holds `seen`: the next Set then sets the event.
  bool WakeOnNextSet(std::int64_t seen) {
    wakeOnSet_.store(true, std::memory_order_seq_cst);
    if (done.load(std::memory_order_seq_cst) == seen) return true;
    wakeOnSet_.store(false);
    return false;
  }
  void Clear() { Set(CountUnit::None, 0, 0); }
  CountUnit Unit() const { return static_cast<CountUnit>(unit.load(std::memory_order_acquire)); }

 private:
  const base::AutoResetEvent* changed_;
  std::atomic<bool> wakeOnSet_{false};
};

struct ProgressTargets {
  base::AutoResetEvent changed;  // declared first: the targets refer to it
  Target upperTarget{changed};   // percent of the current transfer or installation
  Target lowerTarget{changed};   // overall percent: 25, 50, 75, 100
  Target stageIndex{changed};    // 0..4, chooses the stage text
  StageCount count{&changed};    // bytes or files of the stage line
  base::StopRequest stop;        // asked by the GUI thread, honoured by the worker

  // The lower bar never goes back: a value is stored only when it is higher.
  void RaiseLowerTarget(std::int32_t percent) {
    if (lowerTarget.load(std::memory_order_relaxed) < percent)
      lowerTarget.store(percent, std::memory_order_relaxed);
  }
};

}  // namespace progress
