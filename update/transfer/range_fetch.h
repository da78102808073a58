// Byte ranges of one file on a server, each fetched with a single-range GET
// ("Range: bytes=a-b"): one after another on the connection libcurl keeps
// open between them (Fetch), or a batch over several such connections at
// once (FetchAll): what an update that needs only some entries of the
// archive asks for, and the segments of a whole archive. Servers and CDNs differ on multi-range requests (some answer
// with the whole file, some refuse them); single ranges are what all serve.
// Only a 206 whose Content-Range is exactly the range asked for is used:
// anything else is reported, and the caller falls back to the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "update/body_observer.h"
#include "update/transfer/transfer_limits.h"
#include "update/transfer/transfer_retry.h"

namespace progress { struct ProgressTargets; }

namespace update {

enum class RangeResult {
  Received,    // a 206 with the range asked for; all its bytes went to the sink
  Ignored,     // the server answered with the whole file (200): ranges cannot be used
  OtherRange,  // another status, or a 206 of another range or file
  Failed,      // the transfer failed ("curl (URL) error. ..." is logged); Failure() says how
  Stopped,     // the sink stopped the transfer
};

// The share of all the bytes an update fetches, for the upper bar: `done`
// bytes before this range, of `total`.
struct RangeProgress {
  progress::ProgressTargets* targets = nullptr;
  std::uint64_t done = 0;
  std::uint64_t total = 0;
};

// How one request of a batch ended, for the retry policy.
struct RangeOutcome {
  RangeResult result = RangeResult::Failed;
  TransferFailure failure = TransferFailure::None;  // as Failure() says after a single Fetch
  std::int32_t status = 0;                          // the HTTP status; 0 when none came
};

// The requests of a batch, asked for in index order. Begin gives the sink of
// request `index` right before its transfer starts; End reports how it ended,
// after which its sink is no longer used. Both are called on the thread that
// runs FetchAll, one at a time.
class RangeJobs {
 public:
  virtual ~RangeJobs() = default;
  virtual std::size_t Count() const = 0;
  virtual std::uint64_t Offset(std::size_t index) const = 0;
  virtual std::uint64_t Length(std::size_t index) const = 0;
  virtual BodyObserver* Begin(std::size_t index) = 0;
  virtual void End(std::size_t index, const RangeOutcome& outcome) = 0;
  // Asked before each request is begun: true when the batch has no use for
  // more (a sink found the disk full), so that no new request starts.
  virtual bool Abandoned() const { return false; }
};

class RangeFetcher {
 public:
  // `fileSize` is the size the file on the server must have (a Content-Range
  // that names another total is another file).
  RangeFetcher(const char* url, std::uint64_t fileSize, const TransferLimits& limits);
  ~RangeFetcher();
  RangeFetcher(const RangeFetcher&) = delete;
  RangeFetcher& operator=(const RangeFetcher&) = delete;

  // Fetches `length` bytes from `offset` into `sink`, which sees no byte of
  // an answer that is not the range asked for.
  RangeResult Fetch(std::uint64_t offset, std::uint64_t length, BodyObserver* sink,
                    const RangeProgress& progress = RangeProgress{});

  // Fetches every request of `jobs`, over at most `connections` connections
  // at once (TransferLimits::connections; each is kept open between its
  // requests, and the player's speed cap is shared among those that run).
  // Each request is judged as Fetch judges one. The upper bar gets
  // progress.done plus every byte received in the batch. A stop request ends
  // every transfer within a second (their outcomes then say Failed); a sink
  // that stops ends its own request only. Requests that are never begun (after
  // a stop request, or once the jobs are Abandoned) are ended as Failed
  // without a Begin, so every request is ended exactly once.
  void FetchAll(RangeJobs& jobs, const RangeProgress& progress = RangeProgress{});

  // After a Failed or OtherRange: how the last request failed, and its HTTP
  // status (0 when none came), for the retry policy.
  TransferFailure Failure() const { return failure_; }
  std::int32_t Status() const { return status_; }

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;  // libcurl's handles and the loop that keeps their connections
  std::string url_;
  std::uint64_t fileSize_;
  TransferLimits limits_;  // its meter (the run's, when not null) gets every transfer's timings
  std::int64_t appliedCap_ = 0;  // the receive cap last set on Fetch's handle
  TransferFailure failure_ = TransferFailure::None;
  std::int32_t status_ = 0;
};

}  // namespace update
