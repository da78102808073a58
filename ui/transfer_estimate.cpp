#include "ui/transfer_estimate.h"

#include <cmath>

namespace ui {

void TransferEstimate::Reset() { *this = TransferEstimate(); }

void TransferEstimate::Sample(std::int64_t nowMs, std::int64_t done, std::int64_t total) {
  if (started_ && (total != total_ || done < window_.back().done || nowMs < window_.back().ms)) Reset();
  if (!started_) {
    started_ = true;
    startMs_ = nowMs;
    total_ = total;
  }
  window_.push_back({nowMs, done});
  // Keep one point at or before the window's start, so the average spans it whole.
  while (window_.size() > 2 && nowMs - window_[1].ms >= kSpeedWindowMs) window_.pop_front();

  const std::int64_t spanMs = nowMs - window_.front().ms;
  speedKnown_ = spanMs >= kMinSpeedSpanMs;
  if (!speedKnown_) return;
  bytesPerSecond_ = static_cast<double>(done - window_.front().done) * 1000.0 / static_cast<double>(spanMs);
  if (total > 0 && bytesPerSecond_ > 0) UpdateTimeLeft(nowMs, total > done ? total - done : 0);
}

void TransferEstimate::UpdateTimeLeft(std::int64_t nowMs, std::int64_t left) {
  const double raw = static_cast<double>(left) / bytesPerSecond_;
  if (nowMs - startMs_ < kTimeLeftAfterMs) {
    // Followed from the start, but not shown yet: the first figure shown has
    // already settled.
    secondsLeft_ = raw;
    timeLeftMs_ = nowMs;
    return;
  }
  if (!timeLeftKnown_) {
    timeLeftKnown_ = true;
    secondsLeft_ = raw;
    timeLeftMs_ = nowMs;
    return;
  }
  // What the last figure says now, once the time since has passed; then a
  // share of the way to the raw figure that grows with that time.
  const double elapsed = static_cast<double>(nowMs - timeLeftMs_) / 1000.0;
  const double predicted = secondsLeft_ - elapsed;
  const double share = 1.0 - std::exp(-elapsed / kSmoothingSeconds);
  secondsLeft_ = predicted + (raw - predicted) * share;
  if (secondsLeft_ < 0) secondsLeft_ = 0;
  timeLeftMs_ = nowMs;
}

std::int64_t TransferEstimate::SecondsLeft() const {
  return secondsLeft_ <= 0 ? 0 : static_cast<std::int64_t>(secondsLeft_ + 0.5);
}

}  // namespace ui
