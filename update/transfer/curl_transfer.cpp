#include "update/transfer/curl_transfer.h"

#include "update/transfer/line_meter.h"
#include "update/transfer/system_proxy.h"

namespace update {

namespace {

// libcurl's receive buffer, the largest it takes. Every receive under Wine is
// a round trip through its server, so fewer and larger pieces are what makes
// a transfer fast there (its 16 KiB default needs about six times as many).
constexpr long kReceiveBufferBytes = 512 * 1024;

// Under a speed cap libcurl looks at the rate only between its read loops,
// each up to 100 reads of the buffer, so a large buffer lets a fast server
// burst far past the cap before the first pause. A buffer of 1/256 of the cap
// keeps a loop to about 0.4 s of it (libcurl's smallest buffer is 1 KiB).
long ReceiveBufferBytes(std::int64_t cap) {
  if (cap <= 0) return kReceiveBufferBytes;
  const std::int64_t capped = cap / 256;
  if (capped < 1024) return 1024;
  return capped < kReceiveBufferBytes ? static_cast<long>(capped) : kReceiveBufferBytes;
}

}  // namespace

std::int64_t ReceiveCap(const TransferLimits& limits) {
  return limits.liveReceiveCap != nullptr ? limits.liveReceiveCap->load() : limits.maxReceiveBytesPerSecond;
}

void FollowReceiveCap(CURL* handle, const TransferLimits& limits, std::int64_t* applied) {
  if (limits.liveReceiveCap == nullptr) return;
  const std::int64_t cap = limits.liveReceiveCap->load();
  if (cap == *applied) return;
  curl_easy_setopt(handle, CURLOPT_MAX_RECV_SPEED_LARGE, static_cast<curl_off_t>(cap > 0 ? cap : 0));
  *applied = cap;
}

void ApplyTransferOptions(CURL* handle, const char* url, const TransferLimits& limits) {
  const std::int64_t cap = ReceiveCap(limits);
  curl_easy_setopt(handle, CURLOPT_URL, url);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, ReceiveBufferBytes(cap));
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT, limits.connectTimeoutSeconds);
  // The low-speed limits are the transfer loop's (update/transfer/transfer_loop.h):
  // libcurl's own would wake every transfer once a second to look at its rate.
  ApplyReceiveCap(handle, cap);
  if (limits.proxy != nullptr) ApplyProxy(handle, *limits.proxy, url);
}

void ApplyReceiveCap(CURL* handle, std::int64_t bytesPerSecond) {
  curl_easy_setopt(handle, CURLOPT_MAX_RECV_SPEED_LARGE,
                   static_cast<curl_off_t>(bytesPerSecond > 0 ? bytesPerSecond : 0));
}

void ApplyReceiveBuffer(CURL* handle, std::int64_t bytesPerSecond) {
  curl_easy_setopt(handle, CURLOPT_BUFFERSIZE, ReceiveBufferBytes(bytesPerSecond));
}

TransferFailure FailureOfResult(CURLcode result) {
  switch (result) {
    case CURLE_OK:
      return TransferFailure::None;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return TransferFailure::ConnectFailed;
    case CURLE_OPERATION_TIMEDOUT:
      return TransferFailure::TimedOut;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return TransferFailure::BodyCut;
    default:
      return TransferFailure::Permanent;
  }
}

void RecordLineSample(CURL* handle, LineMeter* meter) {
  if (meter == nullptr) return;
  curl_off_t pretransfer = 0, firstByte = 0, total = 0, bytes = 0;
  if (curl_easy_getinfo(handle, CURLINFO_PRETRANSFER_TIME_T, &pretransfer) != CURLE_OK ||
      curl_easy_getinfo(handle, CURLINFO_STARTTRANSFER_TIME_T, &firstByte) != CURLE_OK ||
      curl_easy_getinfo(handle, CURLINFO_TOTAL_TIME_T, &total) != CURLE_OK ||
      curl_easy_getinfo(handle, CURLINFO_SIZE_DOWNLOAD_T, &bytes) != CURLE_OK)
    return;
  if (firstByte <= 0 || firstByte < pretransfer || total < firstByte || bytes < 0) return;  // no answer came
  LineSample sample;
  sample.bodyBytes = static_cast<std::uint64_t>(bytes);
  sample.firstByteSeconds = static_cast<double>(firstByte - pretransfer) / 1e6;  // libcurl counts microseconds
  sample.bodySeconds = static_cast<double>(total - firstByte) / 1e6;
  meter->Add(sample);
}

}  // namespace update
