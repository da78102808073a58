// The size, CRC-32 and SHA-256 of a file's bytes, computed on a thread of
// their own behind the thread that writes them. Rebuilding a file of chunks,
// the helpers hash each chunk and one writer writes them in order; the whole
// file's SHA-256 is serial work as large as all the chunks' hashes together,
// and on the writer's thread it would bound the rebuild whatever the number
// of helpers. A few pieces at most wait, so memory stays bounded by a few
// chunks. Pure: std::thread, no windows.h.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "update/trust/sha256.h"

namespace update {

class DigestBehind {
 public:
  DigestBehind();
  ~DigestBehind();  // the thread ends after the pieces handed on
  DigestBehind(const DigestBehind&) = delete;
  DigestBehind& operator=(const DigestBehind&) = delete;

  // Hands `*bytes` on, to be hashed after every piece before it, waiting
  // while kQueued pieces wait. `*bytes` comes back holding the room of a
  // piece already hashed (its contents undefined), or empty.
  void Add(std::string* bytes);

  // Waits for every piece handed on: the size, CRC-32 and SHA-256 of them all,
  // in order. Once only.
  void Finish(std::uint64_t* size, std::uint32_t* crc, unsigned char (&digest)[Sha256::kDigestBytes]);

  static constexpr std::size_t kQueued = 2;

 private:
  void Work();
  void End();

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<std::string> queued_;   // handed on, not hashed yet
  std::vector<std::string> spent_;   // hashed: their room goes back to the writer
  bool ending_ = false;
  std::uint64_t size_ = 0;           // the thread's alone until it has ended
  std::uint32_t crc_ = 0;
  Sha256 hash_;
  std::thread thread_;               // last: it starts once the members above are made
};

}  // namespace update
