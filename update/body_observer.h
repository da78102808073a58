// What a transfer hands its received body to, piece by piece, before the piece
// is written: a check that runs while the bytes stream in (a size cap, a
// digest) and can stop the transfer at once. DownloadFile takes one as an
// option, so that checks are composed by the caller rather than built into
// the transfer. Pure: no windows.h, no curl.
#pragma once

#include <cstddef>
#include <cstdint>

namespace update {

class BodyObserver {
 public:
  virtual ~BodyObserver() = default;
  // One received piece, in order. False stops the transfer: it then fails
  // without a transfer log line, and the observer's owner says why.
  virtual bool OnBody(const char* data, std::size_t size) = 0;
};

// Stops a transfer once more than `limit` bytes have arrived: for files that
// are small by nature (a signature, a signed descriptor), whatever a server sends.
class BodyLimit : public BodyObserver {
 public:
  explicit BodyLimit(std::uint64_t limit) : limit_(limit) {}
  bool OnBody(const char*, std::size_t size) override {
    received_ += size;
    exceeded_ = exceeded_ || received_ > limit_;
    return !exceeded_;
  }
  bool Exceeded() const { return exceeded_; }

 private:
  std::uint64_t limit_;
  std::uint64_t received_ = 0;
  bool exceeded_ = false;
};

}  // namespace update
