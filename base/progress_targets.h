// The three numbers that the update worker (and the transfer and installation
// it runs) hands to the progress window: the upper-bar target, the lower-bar
// target and the stage index. The progress bar owns one of these; other
// threads only store into it, and its animation thread reads it. Each field
// has one writer, so plain atomic loads and stores are all that is needed.
// A store that changes a number sets the `changed` event, on which the
// animation thread sleeps while nothing moves.
#pragma once

#include <atomic>
#include <cstdint>

#include "base/auto_reset_event.h"

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

struct ProgressTargets {
  base::AutoResetEvent changed;  // declared first: the targets refer to it
  Target upperTarget{changed};   // percent of the current transfer or installation
  Target lowerTarget{changed};   // overall percent: 25, 50, 75, 100
  Target stageIndex{changed};    // 0..4, chooses the stage text

  // The lower bar never goes back: a value is stored only when it is higher.
  void RaiseLowerTarget(std::int32_t percent) {
    if (lowerTarget.load(std::memory_order_relaxed) < percent)
      lowerTarget.store(percent, std::memory_order_relaxed);
  }
};

}  // namespace progress
