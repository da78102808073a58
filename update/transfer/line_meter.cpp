#include "update/transfer/line_meter.h"

namespace update {

std::uint64_t JoiningGap(double bytesPerSecond, double firstByteSeconds) {
  if (!(bytesPerSecond > 0) || !(firstByteSeconds > 0)) return 0;  // NaN too
  const double gap = bytesPerSecond * firstByteSeconds;
  if (gap >= static_cast<double>(kMaxJoiningGap)) return kMaxJoiningGap;
  return static_cast<std::uint64_t>(gap);
}

void LineMeter::Add(const LineSample& sample) {
  if (!(sample.firstByteSeconds >= 0) || !(sample.bodySeconds >= 0)) return;
  if (requests_ == 0 || sample.firstByteSeconds < shortestWait_) shortestWait_ = sample.firstByteSeconds;
  ++requests_;
  if (sample.bodyBytes >= kMinSpeedSampleBytes && sample.bodySeconds > 0 &&
      sample.bodySeconds >= kMinSpeedSampleWaits * sample.firstByteSeconds) {
    speedBytes_ += sample.bodyBytes;
    speedSeconds_ += sample.bodySeconds;
  }
}

double LineMeter::BytesPerSecond() const {
  return speedSeconds_ > 0 ? static_cast<double>(speedBytes_) / speedSeconds_ : kDefaultBytesPerSecond;
}

double LineMeter::FirstByteSeconds() const { return requests_ != 0 ? shortestWait_ : kDefaultFirstByteSeconds; }

}  // namespace update
