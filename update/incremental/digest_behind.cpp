#include "update/incremental/digest_behind.h"

#include <utility>

#include "base/crc32.h"

namespace update {

DigestBehind::DigestBehind() : thread_([this] { Work(); }) {}

DigestBehind::~DigestBehind() { End(); }

void DigestBehind::End() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    ending_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void DigestBehind::Add(std::string* bytes) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return queued_.size() < kQueued; });
  queued_.push_back(std::move(*bytes));
  if (spent_.empty()) {
    *bytes = std::string();
  } else {
    *bytes = std::move(spent_.back());
    spent_.pop_back();
  }
  hold.unlock();
  changed_.notify_all();
}

void DigestBehind::Work() {
  std::unique_lock<std::mutex> hold(lock_);
  for (;;) {
    changed_.wait(hold, [this] { return ending_ || !queued_.empty(); });
    if (queued_.empty()) return;  // ending, and every piece is hashed
    std::string piece = std::move(queued_.front());
    queued_.pop_front();
    hold.unlock();
    size_ += piece.size();
    crc_ = base::Crc32(crc_, piece.data(), piece.size());
    hash_.Update(piece.data(), piece.size());
    hold.lock();
    spent_.push_back(std::move(piece));
    changed_.notify_all();
  }
}

void DigestBehind::Finish(std::uint64_t* size, std::uint32_t* crc, unsigned char (&digest)[Sha256::kDigestBytes]) {
  End();  // after the join the totals are this thread's to read
  *size = size_;
  *crc = crc_;
  hash_.Final(digest);
}

}  // namespace update
