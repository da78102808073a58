// The three numbers that the update worker (and the transfer and installation
// it runs) hands to the progress window: the upper-bar target, the lower-bar
// target and the stage index. The progress bar owns one of these; other
// threads only store into it, and its animation thread reads it. Each field
// has one writer, so plain atomic loads and stores are all that is needed.
#pragma once

#include <atomic>
#include <cstdint>

namespace progress {

struct ProgressTargets {
  std::atomic<std::int32_t> upperTarget{0};  // percent of the current transfer or installation
  std::atomic<std::int32_t> lowerTarget{0};  // overall percent: 25, 50, 75, 100
  std::atomic<std::int32_t> stageIndex{0};   // 0..4, chooses the stage text

  // The lower bar never goes back: a value is stored only when it is higher.
  void RaiseLowerTarget(std::int32_t percent) {
    if (lowerTarget.load(std::memory_order_relaxed) < percent)
      lowerTarget.store(percent, std::memory_order_relaxed);
  }
};

}  // namespace progress
