#include "update/transfer/range_fetch.h"

// curl.h brings winsock2.h, which must come before any windows.h.
#include "update/transfer/curl_transfer.h"
#include "update/transfer/transfer_loop.h"

#include <string_view>
#include <vector>

#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/transfer/content_range.h"
#include "update/transfer/http_download.h"
#include "update/transfer_rules.h"

namespace update {

// The loop is declared first so that it outlives the easy handles it ran:
// its multi handle holds their connections.
struct RangeFetcher::Handle {
  TransferLoop loop;
  EasyHandle curl;               // Fetch's, and a batch's first connection
  std::vector<EasyHandle> more;  // a batch's other connections, kept for the next batch
};

namespace {

// A batch's bytes so far, for the upper bar.
struct BatchCount {
  RangeProgress progress;
  std::uint64_t received = 0;

  void Add(std::uint64_t bytes) {
    received += bytes;
    if (progress.targets == nullptr) return;
    const std::uint64_t done = progress.done + received;
    progress.targets->upperTarget.store(
        TransferPercent(static_cast<std::int64_t>(done), static_cast<std::int64_t>(progress.total)));
    progress.targets->count.Set(progress::CountUnit::Bytes, static_cast<std::int64_t>(done),
                                static_cast<std::int64_t>(progress.total));
  }
};

// What one request's callbacks share.
struct RangeRequest {
  CURL* curl = nullptr;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t fileSize = 0;
  BodyObserver* sink = nullptr;
  RangeProgress progress;         // a single Fetch's
  BatchCount* batch = nullptr;    // a batch's, counted as the bytes arrive
  bool haveRange = false;
  ContentRange range;
  bool checked = false;          // the answer was looked at before its first byte
  RangeResult verdict = RangeResult::Received;
  std::uint64_t received = 0;
  bool stopped = false;
  const TransferLimits* limits = nullptr;  // a live cap is followed as the request runs
  std::int64_t* appliedCap = nullptr;
};

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
  RangeRequest* request = static_cast<RangeRequest*>(user);
  const std::string_view line(data, size * count);
  // A redirect or an interim answer starts a new header block.
  if (line.compare(0, 5, "HTTP/") == 0) request->haveRange = false;
  ContentRange range;
  if (ParseContentRangeLine(line, &range)) {
    request->range = range;
    request->haveRange = true;
  }
  return size * count;
}

// Looks at the answer once, before any byte of it reaches the sink.
RangeResult Judge(const RangeRequest& request) {
  long status = 0;
  curl_easy_getinfo(request.curl, CURLINFO_RESPONSE_CODE, &status);
  if (status == 200) return RangeResult::Ignored;
  // No answer at all, or the server's own failure: nothing said about ranges,
  // and it may pass.
  if (status == 0 || (status >= 500 && status <= 599)) return RangeResult::Failed;
  if (status != 206 || !request.haveRange ||
      !RangeAnswers(request.range, request.offset, request.length, request.fileSize))
    return RangeResult::OtherRange;
  return RangeResult::Received;
}

size_t OnData(char* data, size_t size, size_t count, void* user) {
  RangeRequest* request = static_cast<RangeRequest*>(user);
  const std::size_t bytes = size * count;
  if (!request->checked) {
    request->checked = true;
    request->verdict = Judge(*request);
  }
  if (request->verdict != RangeResult::Received) return 0;
  // More than the range asked for is another answer, whatever its headers say.
  if (bytes > request->length - request->received) {
    request->verdict = RangeResult::OtherRange;
    return 0;
  }
  request->received += bytes;
  if (request->batch != nullptr) request->batch->Add(bytes);
  if (request->sink != nullptr && !request->sink->OnBody(data, bytes)) {
    request->stopped = true;
    return 0;
  }
  return bytes;
}

// A single Fetch's upper bar; libcurl calls it as the transfer moves. A stop
// request also ends the transfer here (the loop's wait ends it when nothing
// moves).
int OnProgress(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
  const RangeRequest* request = static_cast<const RangeRequest*>(user);
  if (request->limits != nullptr) FollowReceiveCap(request->curl, *request->limits, request->appliedCap);
  const RangeProgress& progress = request->progress;
  if (progress.targets == nullptr) return 0;
  if (progress.targets->stop.Requested()) return 1;  // CURLE_ABORTED_BY_CALLBACK
  if (now >= 0) {
    const std::uint64_t done = progress.done + static_cast<std::uint64_t>(now);
    progress.targets->upperTarget.store(
        TransferPercent(static_cast<std::int64_t>(done), static_cast<std::int64_t>(progress.total)));
    progress.targets->count.Set(progress::CountUnit::Bytes, static_cast<std::int64_t>(done),
                                static_cast<std::int64_t>(progress.total));
  }
  return 0;
}

// Points `h` at `request`, which asks for `range`.
void Arm(CURL* h, RangeRequest* request, const char* range) {
  curl_easy_setopt(h, CURLOPT_RANGE, range);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, request);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnData);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, request);
}

// How a request that ended with `result` went. A transfer failure is logged
// unless a stop request ended it (the worker logs the cancel).
RangeOutcome Conclude(RangeRequest* request, CURLcode result, bool stopRequested, const char* url) {
  RangeOutcome outcome;
  long status = 0;
  curl_easy_getinfo(request->curl, CURLINFO_RESPONSE_CODE, &status);
  outcome.status = static_cast<std::int32_t>(status);
  // An answer without a body (a 206 of no bytes cannot be, a 416 can) is
  // judged on its headers alone.
  if (!request->checked) request->verdict = Judge(*request);
  if (request->stopped) {
    outcome.result = RangeResult::Stopped;
    return outcome;
  }
  if (request->verdict == RangeResult::Failed) {
    outcome.result = RangeResult::Failed;
    outcome.failure = status == 0 ? FailureOfResult(result) : TransferFailure::BodyWrong;
    if (outcome.failure == TransferFailure::None) outcome.failure = TransferFailure::BodyCut;  // an empty answer
    if (result != CURLE_OK && status == 0 && !stopRequested) LogTransferFailure(url, result);
    return outcome;
  }
  if (request->verdict != RangeResult::Received) {
    outcome.result = request->verdict;
    outcome.failure = TransferFailure::BodyWrong;
    return outcome;
  }
  outcome.failure = FailureOfResult(result);
  if (outcome.failure == TransferFailure::None && request->received != request->length)
    outcome.failure = TransferFailure::BodyShort;
  outcome.result = outcome.failure == TransferFailure::None ? RangeResult::Received : RangeResult::Failed;
  if (result != CURLE_OK && !stopRequested) LogTransferFailure(url, result);
  return outcome;
}

}  // namespace

RangeFetcher::RangeFetcher(const char* url, std::uint64_t fileSize, const TransferLimits& limits)
    : handle_(std::make_unique<Handle>()), url_(url != nullptr ? url : ""), fileSize_(fileSize), limits_(limits) {
  handle_->curl.reset(curl_easy_init());
  if (handle_->curl) ApplyTransferOptions(handle_->curl.get(), url_.c_str(), limits_);
  appliedCap_ = ReceiveCap(limits_);
}

RangeFetcher::~RangeFetcher() = default;

RangeResult RangeFetcher::Fetch(std::uint64_t offset, std::uint64_t length, BodyObserver* sink,
                                const RangeProgress& progress) {
  failure_ = TransferFailure::None;
  status_ = 0;
  char range[kRangeTextSize];
  if (!handle_->curl || !FormatRangeRequest(offset, length, range)) {
    failure_ = TransferFailure::Permanent;
    LogTransferFailure(url_.c_str(), CURLE_FAILED_INIT);
    return RangeResult::Failed;
  }
  CURL* h = handle_->curl.get();
  RangeRequest request;
  request.curl = h;
  request.offset = offset;
  request.length = length;
  request.fileSize = fileSize_;
  request.sink = sink;
  request.progress = progress;
  request.limits = &limits_;
  request.appliedCap = &appliedCap_;
  Arm(h, &request, range);
  // A batch may have shared the cap and sized the buffer for its share.
  appliedCap_ = ReceiveCap(limits_);
  ApplyReceiveCap(h, appliedCap_);
  ApplyReceiveBuffer(h, appliedCap_);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &request);

  const base::StopRequest* stop = progress.targets != nullptr ? &progress.targets->stop : nullptr;
  const CURLcode result = handle_->loop.Perform(h, limits_, stop);
  RecordLineSample(h, limits_.meter);
  const bool stopRequested = stop != nullptr && stop->Requested();
  const RangeOutcome outcome = Conclude(&request, result, stopRequested, url_.c_str());
  failure_ = outcome.failure;
  status_ = outcome.status;
  return outcome.result;
}

namespace {

// One connection of a batch and the request it runs.
struct Connection {
  CURL* curl = nullptr;
  RangeRequest request;
  char range[kRangeTextSize] = {};
  std::size_t job = 0;
  bool busy = false;
};

// The player's cap is for the whole batch: each running request gets its
// share, set again whenever the number running or the cap changes (a live
// cap lifted by the click goes to every connection, 0 to each).
void ShareReceiveCap(std::vector<Connection>* connections, std::int64_t cap) {
  std::int64_t running = 0;
  for (const Connection& c : *connections) running += c.busy ? 1 : 0;
  if (running == 0) return;
  const std::int64_t share = cap <= 0 ? 0 : (cap / running > 0 ? cap / running : 1);
  for (Connection& c : *connections) {
    if (c.busy) ApplyReceiveCap(c.curl, share);
  }
}

}  // namespace

void RangeFetcher::FetchAll(RangeJobs& jobs, const RangeProgress& progress) {
  const std::size_t count = jobs.Count();
  if (count == 0) return;
  std::size_t width = limits_.connections > 1 ? static_cast<std::size_t>(limits_.connections) : 1;
  if (width > count) width = count;
  while (handle_->curl && handle_->more.size() + 1 < width) {
    EasyHandle extra(curl_easy_init());
    if (!extra) break;  // fewer connections, still every request
    ApplyTransferOptions(extra.get(), url_.c_str(), limits_);
    handle_->more.push_back(std::move(extra));
  }
  std::vector<Connection> connections;
  if (handle_->curl) {
    connections.resize(width < handle_->more.size() + 1 ? width : handle_->more.size() + 1);
    connections[0].curl = handle_->curl.get();
    for (std::size_t i = 1; i < connections.size(); ++i) connections[i].curl = handle_->more[i - 1].get();
  } else {
    LogTransferFailure(url_.c_str(), CURLE_FAILED_INIT);
  }

  BatchCount batch;
  batch.progress = progress;
  const base::StopRequest* stop = progress.targets != nullptr ? &progress.targets->stop : nullptr;
  std::int64_t sharedCap = ReceiveCap(limits_);
  const std::int64_t connectionCap = sharedCap > 0 && !connections.empty()
                                         ? sharedCap / static_cast<std::int64_t>(connections.size())
                                         : 0;
  std::size_t next = 0;
  auto end = [&](std::size_t index, const RangeOutcome& outcome) {
    failure_ = outcome.failure;
    status_ = outcome.status;
    jobs.End(index, outcome);
  };
  RangeOutcome notBegun;
  notBegun.failure = TransferFailure::Permanent;

  std::vector<TransferLoop::Finished> finished;
  for (;;) {
    bool changed = false;
    for (Connection& c : connections) {
      if (c.busy || next >= count || (stop != nullptr && stop->Requested()) || jobs.Abandoned()) continue;
      const std::size_t index = next++;
      c.request = RangeRequest{};
      c.request.curl = c.curl;
      c.request.offset = jobs.Offset(index);
      c.request.length = jobs.Length(index);
      c.request.fileSize = fileSize_;
      c.request.batch = &batch;
      c.job = index;
      c.request.sink = jobs.Begin(index);
      if (!FormatRangeRequest(c.request.offset, c.request.length, c.range)) {
        LogTransferFailure(url_.c_str(), CURLE_FAILED_INIT);
        end(index, notBegun);
        continue;
      }
      Arm(c.curl, &c.request, c.range);
      curl_easy_setopt(c.curl, CURLOPT_NOPROGRESS, 1L);
      ApplyReceiveBuffer(c.curl, connectionCap);
      if (!handle_->loop.Add(c.curl, limits_)) {
        LogTransferFailure(url_.c_str(), CURLE_FAILED_INIT);
        end(index, notBegun);
        continue;
      }
      c.busy = true;
      changed = true;
    }
    const std::int64_t cap = ReceiveCap(limits_);
    if (changed || cap != sharedCap) ShareReceiveCap(&connections, cap);
    sharedCap = cap;
    if (handle_->loop.Running() == 0) break;

    finished.clear();
    handle_->loop.Step(stop, &finished);
    const bool stopRequested = stop != nullptr && stop->Requested();
    for (const TransferLoop::Finished& f : finished) {
      for (Connection& c : connections) {
        if (!c.busy || c.curl != f.handle) continue;
        c.busy = false;
        RecordLineSample(c.curl, limits_.meter);
        RangeOutcome outcome;
        if (stopRequested && f.result == CURLE_ABORTED_BY_CALLBACK) {
          outcome.failure = TransferFailure::Permanent;  // as a stopped Fetch's
          long status = 0;
          curl_easy_getinfo(c.curl, CURLINFO_RESPONSE_CODE, &status);
          outcome.status = static_cast<std::int32_t>(status);
        } else {
          outcome = Conclude(&c.request, f.result, stopRequested, url_.c_str());
        }
        end(c.job, outcome);
      }
    }
    if (!finished.empty()) ShareReceiveCap(&connections, sharedCap);
  }
  // After a stop request, or once the jobs want no more: the rest never began.
  for (; next < count; ++next) end(next, notBegun);
}

}  // namespace update
