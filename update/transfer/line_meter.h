// What the line to the servers has shown so far in a run: how long a request
// waits for its first byte (the round trip and the server's own time) and how
// fast a body then arrives on one connection. Every transfer adds what it saw;
// the ranges an update asks for are joined by it: a gap between two spans is
// worth reading when that costs less time than one more request. Pure.
#pragma once

#include <cstdint>

namespace update {

struct LineSample {
  std::uint64_t bodyBytes = 0;
  double firstByteSeconds = 0;  // from the request sent to the first byte of the answer
  double bodySeconds = 0;       // from the first byte to the last
};

// Before the run has measured anything: a line of 1 MiB/s per connection
// whose answers take 50 ms to start, which joins gaps of at most 51 KiB.
constexpr double kDefaultBytesPerSecond = 1024.0 * 1024.0;
constexpr double kDefaultFirstByteSeconds = 0.05;
// A body shorter than this says more about the timer than about the line;
// one that arrived within a few of its own first-byte waits came out of the
// server's and the network's buffers in one burst, faster than the line
// carries a range.
constexpr std::uint64_t kMinSpeedSampleBytes = 32 * 1024;
constexpr double kMinSpeedSampleWaits = 8;
// However slow the answers start, a request never reads more than this of
// what it does not need.
constexpr std::uint64_t kMaxJoiningGap = std::uint64_t{8} << 20;

// The largest gap fetched rather than skipped: a gap costs gap/speed seconds,
// another request one first-byte wait.
std::uint64_t JoiningGap(double bytesPerSecond, double firstByteSeconds);

class LineMeter {
 public:
  void Add(const LineSample& sample);
  // The speed of every timed body together, and the shortest wait for a
  // first byte: the round trip itself (a longer wait is the server's own
  // time, a cold file or a connection's first request, which the next
  // request on a kept connection does not pay); the defaults while nothing
  // was seen.
  double BytesPerSecond() const;
  double FirstByteSeconds() const;
  std::uint64_t Gap() const { return JoiningGap(BytesPerSecond(), FirstByteSeconds()); }
  bool Measured() const { return requests_ != 0; }

 private:
  std::uint64_t requests_ = 0;
  double shortestWait_ = 0;
  std::uint64_t speedBytes_ = 0;  // of the bodies long enough to time
  double speedSeconds_ = 0;
};

}  // namespace update
