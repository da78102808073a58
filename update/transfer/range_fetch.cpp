#include "update/transfer/range_fetch.h"

// curl.h brings winsock2.h, which must come before any windows.h.
#include "update/transfer/curl_transfer.h"

#include <string_view>

#include "base/progress_targets.h"
#include "update/download_log.h"
#include "update/transfer/content_range.h"
#include "update/transfer/http_download.h"
#include "update/transfer_rules.h"

namespace update {

struct RangeFetcher::Handle {
  EasyHandle curl;
};

namespace {

// What one request's callbacks share.
struct RangeRequest {
  CURL* curl = nullptr;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t fileSize = 0;
  BodyObserver* sink = nullptr;
  RangeProgress progress;
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
  if (request->sink != nullptr && !request->sink->OnBody(data, bytes)) {
    request->stopped = true;
    return 0;
  }
  return bytes;
}

// libcurl calls it at least once a second: a stop request ends the request
// within a second (the fetch then fails like a cut body).
int OnProgress(void* user, curl_off_t, curl_off_t now, curl_off_t, curl_off_t) {
  const RangeRequest* request = static_cast<const RangeRequest*>(user);
  FollowReceiveCap(request->curl, *request->limits, request->appliedCap);
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

}  // namespace

RangeFetcher::RangeFetcher(const char* url, std::uint64_t fileSize, const TransferLimits& limits)
    : handle_(std::make_unique<Handle>()),
      url_(url != nullptr ? url : ""),
      fileSize_(fileSize),
      meter_(limits.meter),
      limits_(limits) {
  handle_->curl.reset(curl_easy_init());
  if (handle_->curl) ApplyTransferOptions(handle_->curl.get(), url_.c_str(), limits);
  appliedCap_ = ReceiveCap(limits);
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
  FollowReceiveCap(h, limits_, &appliedCap_);  // a cap changed between two requests
  curl_easy_setopt(h, CURLOPT_RANGE, range);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &OnHeader);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &request);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &OnData);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &request);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &OnProgress);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &request);

  const CURLcode result = curl_easy_perform(h);
  RecordLineSample(h, meter_);
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  status_ = static_cast<std::int32_t>(status);
  // An answer without a body (a 206 of no bytes cannot be, a 416 can) is
  // judged on its headers alone.
  if (!request.checked) request.verdict = Judge(request);
  if (request.stopped) return RangeResult::Stopped;
  if (request.verdict == RangeResult::Failed) {
    failure_ = status_ == 0 ? FailureOfResult(result) : TransferFailure::BodyWrong;
    if (failure_ == TransferFailure::None) failure_ = TransferFailure::BodyCut;  // an empty answer
    const bool stopRequested = progress.targets != nullptr && progress.targets->stop.Requested();
    if (result != CURLE_OK && status_ == 0 && !stopRequested) LogTransferFailure(url_.c_str(), result);
    return RangeResult::Failed;
  }
  if (request.verdict != RangeResult::Received) {
    failure_ = TransferFailure::BodyWrong;
    return request.verdict;
  }
  failure_ = FailureOfResult(result);
  if (failure_ == TransferFailure::None && request.received != length) failure_ = TransferFailure::BodyShort;
  if (failure_ == TransferFailure::None) return RangeResult::Received;
  // A stop request is the worker's to log, as the cancel it is.
  const bool stopRequested = progress.targets != nullptr && progress.targets->stop.Requested();
  if (result != CURLE_OK && !stopRequested) LogTransferFailure(url_.c_str(), result);
  return RangeResult::Failed;
}

// One request after another on the one connection this fetcher keeps.
void RangeFetcher::FetchAll(RangeJobs& jobs, const RangeProgress& progress) {
  RangeProgress each = progress;
  for (std::size_t i = 0; i < jobs.Count(); ++i) {
    RangeOutcome outcome;
    outcome.result = Fetch(jobs.Offset(i), jobs.Length(i), jobs.Begin(i), each);
    outcome.failure = failure_;
    outcome.status = status_;
    jobs.End(i, outcome);
    each.done += jobs.Length(i);
  }
}

}  // namespace update
