// How fast a transfer goes and how long it still needs, from the counts the
// progress window samples a few times a second. The speed is the average
// over the last few seconds, so that one quick or slow piece does not swing
// it; the time left is smoothed, so that it counts down evenly instead of
// jumping with every change of speed, and is known only after the first
// seconds of a transfer, when the speed means something. Pure: no
// windows.h, so it is tested natively.
#pragma once

#include <cstdint>
#include <deque>

namespace ui {

class TransferEstimate {
 public:
  static constexpr std::int64_t kSpeedWindowMs = 3000;   // the speed's average runs over this
  static constexpr std::int64_t kMinSpeedSpanMs = 1000;  // no speed before this much is seen
  static constexpr std::int64_t kTimeLeftAfterMs = 3000; // no time left before this much transfer
  static constexpr double kSmoothingSeconds = 4.0;       // how slowly the time left follows the raw one

  // The count at `nowMs` (any steady millisecond clock). A count that goes
  // back or a total that changes is another transfer: the estimate starts over.
  void Sample(std::int64_t nowMs, std::int64_t done, std::int64_t total);
  void Reset();

  bool SpeedKnown() const { return speedKnown_; }
  double BytesPerSecond() const { return bytesPerSecond_; }
  bool TimeLeftKnown() const { return timeLeftKnown_; }
  std::int64_t SecondsLeft() const;  // rounded to the nearest second, never below 0

 private:
  struct Point {
    std::int64_t ms;
    std::int64_t done;
  };
  void UpdateTimeLeft(std::int64_t nowMs, std::int64_t left);

  std::deque<Point> window_;
  bool started_ = false;
  std::int64_t startMs_ = 0;
  std::int64_t total_ = 0;
  bool speedKnown_ = false;
  double bytesPerSecond_ = 0;
  bool timeLeftKnown_ = false;
  double secondsLeft_ = 0;
  std::int64_t timeLeftMs_ = 0;  // when secondsLeft_ was last brought up to date
};

}  // namespace ui
